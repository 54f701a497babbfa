// Event-log writer: the trace library's level -2 lines go to the system log under the product's
// event source "Quorvina", one text per event.
#pragma once

#include <cstdint>

constexpr uint32_t EventIdError = 0xE0000002u;
constexpr uint32_t EventIdWarning = 0xA0000001u;
constexpr uint32_t EventIdInformation = 0x60000000u;

constexpr uint16_t kEventTypeError = 1;
constexpr uint16_t kEventTypeWarning = 2;
constexpr uint16_t kEventTypeInformation = 4;

// One error event (type 1) with the text.
void EventLogError(const char *text);
// One event: types 1, 2 and 4 choose the identifier and the syslog priority; another type prints
// "Unrecognised type: %d\n" on the standard error and is written as information with its type.
// The system log reports no failure, so this never ends the program.
void EventLogWrite(uint16_t type, const char *text);

// Where events go instead of syslog (tests); nullptr restores syslog.
using EventLogSink = void (*)(uint16_t type, uint32_t identifier, const char *text, void *context);
void EventLogSetSink(EventLogSink sink, void *context);
