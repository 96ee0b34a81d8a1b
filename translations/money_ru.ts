<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>QObject</name>
    <message>
        <source>1 </source>
        <translation>один </translation>
    </message>
    <message>
        <source>2 </source>
        <translation>два </translation>
    </message>
    <message>
        <source>3 </source>
        <translation>три </translation>
    </message>
    <message>
        <source>4 </source>
        <translation>четыре </translation>
    </message>
    <message>
        <source>5 </source>
        <translation>пять </translation>
    </message>
    <message>
        <source>6 </source>
        <translation>шесть </translation>
    </message>
    <message>
        <source>7 </source>
        <translation>семь </translation>
    </message>
    <message>
        <source>8 </source>
        <translation>восемь </translation>
    </message>
    <message>
        <source>9 </source>
        <translation>девять </translation>
    </message>
    <message>
        <source>1f </source>
        <translation>одна </translation>
    </message>
    <message>
        <source>2f </source>
        <translation>две </translation>
    </message>
    <message>
        <source>3f </source>
        <translation>три </translation>
    </message>
    <message>
        <source>4f </source>
        <translation>четыре </translation>
    </message>
    <message>
        <source>5f </source>
        <translation>пять </translation>
    </message>
    <message>
        <source>6f </source>
        <translation>шесть </translation>
    </message>
    <message>
        <source>7f </source>
        <translation>семь </translation>
    </message>
    <message>
        <source>8f </source>
        <translation>восемь </translation>
    </message>
    <message>
        <source>9f </source>
        <translation>девять </translation>
    </message>
    <message>
        <source>10 </source>
        <translation>десять </translation>
    </message>
    <message>
        <source>11 </source>
        <translation>одиннадцать </translation>
    </message>
    <message>
        <source>12 </source>
        <translation>двенадцать </translation>
    </message>
    <message>
        <source>13 </source>
        <translation>тринадцать </translation>
    </message>
    <message>
        <source>14 </source>
        <translation>четырнадцать </translation>
    </message>
    <message>
        <source>15 </source>
        <translation>пятнадцать </translation>
    </message>
    <message>
        <source>16 </source>
        <translation>шестнадцать </translation>
    </message>
    <message>
        <source>17 </source>
        <translation>семнадцать </translation>
    </message>
    <message>
        <source>18 </source>
        <translation>восемнадцать </translation>
    </message>
    <message>
        <source>19 </source>
        <translation>девятнадцать </translation>
    </message>
    <message>
        <source>20 </source>
        <translation>двадцать </translation>
    </message>
    <message>
        <source>30 </source>
        <translation>тридцать </translation>
    </message>
    <message>
        <source>40 </source>
        <translation>сорок </translation>
    </message>
    <message>
        <source>50 </source>
        <translation>пятьдесят </translation>
    </message>
    <message>
        <source>60 </source>
        <translation>шестьдесят </translation>
    </message>
    <message>
        <source>70 </source>
        <translation>семьдесят </translation>
    </message>
    <message>
        <source>80 </source>
        <translation>восемьдесят </translation>
    </message>
    <message>
        <source>90 </source>
        <translation>девяносто </translation>
    </message>
    <message>
        <source>100 </source>
        <translation>сто </translation>
    </message>
    <message>
        <source>200 </source>
        <translation>двести </translation>
    </message>
    <message>
        <source>300 </source>
        <translation>триста </translation>
    </message>
    <message>
        <source>400 </source>
        <translation>четыреста </translation>
    </message>
    <message>
        <source>500 </source>
        <translation>пятьсот </translation>
    </message>
    <message>
        <source>600 </source>
        <translation>шестьсот </translation>
    </message>
    <message>
        <source>700 </source>
        <translation>семьсот </translation>
    </message>
    <message>
        <source>800 </source>
        <translation>восемьсот </translation>
    </message>
    <message>
        <source>900 </source>
        <translation>девятьсот </translation>
    </message>
    <message>
        <source>1000 </source>
        <translation>тысяча </translation>
    </message>
    <message>
        <source>1000_1 </source>
        <translation>тысячи </translation>
    </message>
    <message>
        <source>1000_2 </source>
        <translation>тысяч </translation>
    </message>
    <message>
        <source>1000000 </source>
        <translation>миллион </translation>
    </message>
    <message>
        <source>1000000_1 </source>
        <translation>миллиона </translation>
    </message>
    <message>
        <source>1000000_2 </source>
        <translation>миллионов </translation>
    </message>
    <message>
        <source>1000000000 </source>
        <translation>миллиард </translation>
    </message>
    <message>
        <source>1000000000_1 </source>
        <translation>миллиарда </translation>
    </message>
    <message>
        <source>1000000000_2 </source>
        <translation>миллиардов </translation>
    </message>
    <message>
        <source>Minus </source>
        <translation>минус </translation>
    </message>
    <message>
        <source>Big money ...</source>
        <translation>Сумма слишком велика</translation>
    </message>
</context>
</TS>
