// Event-log writer on the system log.
#include "trace/eventlog.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>

namespace {

struct Sink {
    EventLogSink function;
    void *context;
};
std::atomic<Sink *> gSink{nullptr};
Sink gSinkStore[2];
int gSinkSlot = 0;

}  // namespace

void EventLogSetSink(EventLogSink sink, void *context)
{
    if (!sink) {
        gSink.store(nullptr);
        return;
    }
    gSinkSlot ^= 1;
    gSinkStore[gSinkSlot] = {sink, context};
    gSink.store(&gSinkStore[gSinkSlot]);
}

void EventLogWrite(uint16_t type, const char *text)
{
    uint32_t identifier = EventIdInformation;
    int priority = LOG_INFO;
    switch (type) {
    case kEventTypeError:
        identifier = EventIdError;
        priority = LOG_ERR;
        break;
    case kEventTypeWarning:
        identifier = EventIdWarning;
        priority = LOG_WARNING;
        break;
    case kEventTypeInformation:
        break;
    default:
        fprintf(stderr, "Unrecognised type: %d\n", type);
        break;
    }
    if (!text)
        text = "";
    if (Sink *sink = gSink.load()) {
        sink->function(type, identifier, text, sink->context);
        return;
    }
    // The source is opened and closed for every event, as nothing may stay open between calls.
    openlog("Quorvina", LOG_PID, LOG_USER);
    syslog(priority, "[0x%08X] type %d: %s", identifier, type, text);
    closelog();
}

void EventLogError(const char *text)
{
    EventLogWrite(kEventTypeError, text);
}
