// SPDX-License-Identifier: MIT
#include <ravixcore/sys/gpiocontroller.h>

#include <QtTest>

class TestGpioController : public QObject
{
    Q_OBJECT
private slots:
    void inert()
    {
        ravix::GpioController gpio;
        QVERIFY(!gpio.isInited());
        gpio.pinMode(1, 1);
        gpio.pinModeAlt(1, 2);
        gpio.pullUpDnControl(1, 2);
        gpio.digitalWrite(1, 1);
        gpio.pwmWrite(1, 512);
        gpio.analogWrite(1, 7);
        QCOMPARE(gpio.digitalRead(1), 0);
        QCOMPARE(gpio.analogRead(1), 0);
    }
};

QTEST_GUILESS_MAIN(TestGpioController)
#include "tst_gpiocontroller.moc"
