#include "PMEventSource.h"

PMEventSource::PMEventSource() : sourceName("PMevents") {}

PMEventSource::~PMEventSource() = default;
