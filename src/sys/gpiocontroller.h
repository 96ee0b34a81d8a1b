// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QObject>

namespace ravix {

/// Pin access for boards with GPIO. No supported platform has a backend yet: every
/// operation does nothing, reads return 0 and isInited() is false.
class RAVIXCORE_EXPORT GpioController : public QObject
{
    Q_OBJECT
public:
    explicit GpioController(QObject *parent = nullptr);
    ~GpioController() override;

    bool isInited() const;

    void pinMode(int pin, int mode);
    void pinModeAlt(int pin, int mode);
    void pullUpDnControl(int pin, int pud);
    int digitalRead(int pin);
    void digitalWrite(int pin, int value);
    void pwmWrite(int pin, int value);
    int analogRead(int pin);
    void analogWrite(int pin, int value);
};

} // namespace ravix
