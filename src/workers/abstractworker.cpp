// SPDX-License-Identifier: MIT
#include "workers/abstractworker.h"

namespace ravix {

AbstractWorker::AbstractWorker() : QObject(nullptr) {}

AbstractWorker::~AbstractWorker() = default;

void AbstractWorker::start()
{
    if (doStart())
        emit started();
}

void AbstractWorker::stop()
{
    if (doStop())
        emit stopped();
}

void AbstractWorker::restart()
{
    if (!doStop())
        return;
    if (!doStart())
        emit stopped();
}

} // namespace ravix
