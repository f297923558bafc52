#include "data/SunService.h"

// Placeholder until the sun computation lands: switched off, no times.

namespace daybrook {

SunService::SunService(QObject *parent) : QObject(parent) {}
SunService::~SunService() = default;

void SunService::setIsEnabled(bool enabled) {
    m_isEnabled = enabled;
    Q_EMIT isEnabledChanged();
}

void SunService::updateLocation() {}
void SunService::refreshSunTimes() {}
void SunService::disable() {
    setIsEnabled(false);
}

} // namespace daybrook
