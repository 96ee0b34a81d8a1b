<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>QObject</name>
    <message>
        <source>Start logging</source>
        <translation>Начало журналирования</translation>
    </message>
    <message>
        <source>Stop logging</source>
        <translation>Окончание журналирования</translation>
    </message>
    <message>
        <source>Bytearrray size = </source>
        <translation>Размер массива байтов = </translation>
    </message>
    <message>
        <source>Byte array is empty</source>
        <translation>Массив байтов пуст</translation>
    </message>
</context>
<context>
    <name>UnZip</name>
    <message>
        <source>ZIP operation completed successfully.</source>
        <translation>Операция с архивом ZIP успешно завершена.</translation>
    </message>
    <message>
        <source>Failed to initialize or load zlib library.</source>
        <translation>Не удалось инициализировать или загрузить библиотеку zlib.</translation>
    </message>
    <message>
        <source>zlib library error.</source>
        <translation>Ошибка библиотеки zlib.</translation>
    </message>
    <message>
        <source>Unable to create or open file.</source>
        <translation>Не удалось создать или открыть файл.</translation>
    </message>
    <message>
        <source>Partially corrupted archive. Some files might be extracted.</source>
        <translation>Архив частично повреждён. Некоторые файлы, возможно, удастся извлечь.</translation>
    </message>
    <message>
        <source>Corrupted archive.</source>
        <translation>Архив повреждён.</translation>
    </message>
    <message>
        <source>Wrong password.</source>
        <translation>Неверный пароль.</translation>
    </message>
    <message>
        <source>No archive has been created yet.</source>
        <translation>Архив ещё не создан.</translation>
    </message>
    <message>
        <source>File or directory does not exist.</source>
        <translation>Файл или каталог не существует.</translation>
    </message>
    <message>
        <source>File read error.</source>
        <translation>Ошибка чтения файла.</translation>
    </message>
    <message>
        <source>File write error.</source>
        <translation>Ошибка записи файла.</translation>
    </message>
    <message>
        <source>File seek error.</source>
        <translation>Ошибка позиционирования в файле.</translation>
    </message>
    <message>
        <source>Unable to create a directory.</source>
        <translation>Не удалось создать каталог.</translation>
    </message>
    <message>
        <source>Invalid device.</source>
        <translation>Недопустимое устройство.</translation>
    </message>
    <message>
        <source>Invalid or incompatible zip archive.</source>
        <translation>Недопустимый или несовместимый архив ZIP.</translation>
    </message>
    <message>
        <source>Inconsistent headers. Archive might be corrupted.</source>
        <translation>Несогласованные заголовки. Возможно, архив повреждён.</translation>
    </message>
    <message>
        <source>Unknown error.</source>
        <translation>Неизвестная ошибка.</translation>
    </message>
</context>
<context>
    <name>Zip</name>
    <message>
        <source>ZIP operation completed successfully.</source>
        <translation>Операция с архивом ZIP успешно завершена.</translation>
    </message>
    <message>
        <source>Failed to initialize or load zlib library.</source>
        <translation>Не удалось инициализировать или загрузить библиотеку zlib.</translation>
    </message>
    <message>
        <source>zlib library error.</source>
        <translation>Ошибка библиотеки zlib.</translation>
    </message>
    <message>
        <source>Unable to create or open file.</source>
        <translation>Не удалось создать или открыть файл.</translation>
    </message>
    <message>
        <source>No archive has been created yet.</source>
        <translation>Архив ещё не создан.</translation>
    </message>
    <message>
        <source>File or directory does not exist.</source>
        <translation>Файл или каталог не существует.</translation>
    </message>
    <message>
        <source>File read error.</source>
        <translation>Ошибка чтения файла.</translation>
    </message>
    <message>
        <source>File write error.</source>
        <translation>Ошибка записи файла.</translation>
    </message>
    <message>
        <source>File seek error.</source>
        <translation>Ошибка позиционирования в файле.</translation>
    </message>
    <message>
        <source>Unknown error.</source>
        <translation>Неизвестная ошибка.</translation>
    </message>
</context>
<context>
    <name>ravix::BaseSqliteDbConnector</name>
    <message>
        <source>Database name is empty</source>
        <translation>Не задано имя базы данных</translation>
    </message>
    <message>
        <source>Database checking error. Try restart the application</source>
        <translation>Ошибка проверки базы данных. Попробуйте перезапустить приложение</translation>
    </message>
    <message>
        <source>The database requires a application update.</source>
        <translation>База данных требует обновления приложения.</translation>
    </message>
    <message>
        <source>The database is too old.</source>
        <translation>База данных слишком старая.</translation>
    </message>
    <message>
        <source>Can&apos;t create the database directory %1</source>
        <translation>Не удалось создать каталог базы данных %1</translation>
    </message>
    <message>
        <source>Database {</source>
        <translation>База данных {</translation>
    </message>
    <message>
        <source>} opening error: </source>
        <translation>} ошибка открытия: </translation>
    </message>
</context>
<context>
    <name>ravix::HttpFileLoader</name>
    <message>
        <source>Invalid fileName or url: %1 - %2</source>
        <translation>Неверное имя файла или URL: %1 - %2</translation>
    </message>
    <message>
        <source>Invalid block size: %1</source>
        <translation>Неверный размер блока: %1</translation>
    </message>
    <message>
        <source>Target directory creation error</source>
        <translation>Ошибка создания целевого каталога</translation>
    </message>
    <message>
        <source>QNetworkAccessManager is null</source>
        <translation>QNetworkAccessManager не задан</translation>
    </message>
    <message>
        <source>Attempt #%1. Offcet = %2. BlockSize = %3. URL = %4</source>
        <translation>Попытка №%1. Смещение = %2. Размер блока = %3. URL = %4</translation>
    </message>
    <message>
        <source>BLOCK FINISHED</source>
        <translation>БЛОК ЗАГРУЖЕН</translation>
    </message>
    <message>
        <source>Reply is null object</source>
        <translation>Ответ — пустой объект</translation>
    </message>
    <message>
        <source>Http headers parsing error</source>
        <translation>Ошибка разбора заголовков HTTP</translation>
    </message>
    <message>
        <source>%1 copying error</source>
        <translation>Ошибка копирования %1</translation>
    </message>
    <message>
        <source>DOWNLOAD TIMEOUT</source>
        <translation>ИСТЕКЛО ВРЕМЯ ЗАГРУЗКИ</translation>
    </message>
    <message>
        <source>AUTHENTICATION_REQUIRED!</source>
        <translation>ТРЕБУЕТСЯ АУТЕНТИФИКАЦИЯ!</translation>
    </message>
</context>
<context>
    <name>ravix::SrvWrapper</name>
    <message>
        <source>Error: </source>
        <translation>Ошибка: </translation>
    </message>
    <message>
        <source>is crashed with code </source>
        <translation>аварийно завершился с кодом </translation>
    </message>
    <message>
        <source>ended %1 times in a row within %2 s of its start; next start in %3 s</source>
        <translation>завершился %1 раз подряд в течение %2 с после запуска; следующий запуск через %3 с</translation>
    </message>
</context>
<context>
    <name>ravix::TrustedFile</name>
    <message>
        <source>a symbolic link</source>
        <translation>символическая ссылка</translation>
    </message>
    <message>
        <source>owned by another account (uid %1)</source>
        <translation>принадлежит другой учётной записи (uid %1)</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>не обычный файл</translation>
    </message>
    <message>
        <source>writable by every account</source>
        <translation>доступен для записи всем учётным записям</translation>
    </message>
    <message>
        <source>writable by the group %1</source>
        <translation>доступен для записи группе %1</translation>
    </message>
</context>
<context>
    <name>ravix::UpdatesHelper</name>
    <message>
        <source>The update document is refused: %1</source>
        <translation>Документ обновлений отклонён: %1</translation>
    </message>
    <message>
        <source>no usable update key is set</source>
        <translation>не задан пригодный ключ обновлений</translation>
    </message>
    <message>
        <source>it has no signature</source>
        <translation>у него нет подписи</translation>
    </message>
    <message>
        <source>its signature is not one line of base64 holding 64 bytes</source>
        <translation>его подпись не является одной строкой base64 из 64 байт</translation>
    </message>
    <message>
        <source>the cryptographic library cannot be set up</source>
        <translation>не удаётся подготовить криптографическую библиотеку</translation>
    </message>
    <message>
        <source>its signature does not match the update key</source>
        <translation>его подпись не соответствует ключу обновлений</translation>
    </message>
    <message>
        <source>Update %1 is refused: it is older than the installed version %2</source>
        <translation>Обновление %1 отклонено: его версия ниже установленной %2</translation>
    </message>
    <message>
        <source>Invalid data format</source>
        <translation>Неверный формат данных</translation>
    </message>
    <message>
        <source>There are not updates for your operating system</source>
        <translation>Нет обновлений для вашей операционной системы</translation>
    </message>
    <message>
        <source>There are not valid updates for your operating system</source>
        <translation>Нет подходящих обновлений для вашей операционной системы</translation>
    </message>
    <message>
        <source>a symbolic link; replaced by a folder</source>
        <translation>символическая ссылка; заменена папкой</translation>
    </message>
    <message>
        <source>(%1 bytes in all)</source>
        <translation>(всего %1 байт)</translation>
    </message>
</context>
</TS>
