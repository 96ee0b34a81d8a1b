// SPDX-License-Identifier: MIT
#include "sys/gpiocontroller.h"

namespace ravix {

GpioController::GpioController(QObject *parent) : QObject(parent) {}
GpioController::~GpioController() = default;

bool GpioController::isInited() const
{
    return false;
}
void GpioController::pinMode(int, int) {}
void GpioController::pinModeAlt(int, int) {}
void GpioController::pullUpDnControl(int, int) {}
int GpioController::digitalRead(int)
{
    return 0;
}
void GpioController::digitalWrite(int, int) {}
void GpioController::pwmWrite(int, int) {}
int GpioController::analogRead(int)
{
    return 0;
}
void GpioController::analogWrite(int, int) {}

} // namespace ravix
