#include "PMEventSource.h"

PMEventSource::PMEventSource() : sourceName(kEventSourceName) {}

PMEventSource::~PMEventSource() = default;
