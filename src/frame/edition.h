// edition.h - what differs between the current and the legacy library, in one place.
//
// Both libraries compile the same core sources; the build defines QDL_EDITION_LEGACY for the
// legacy one. Code asks kEdition instead of testing the macro.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tskqdl32.h"

namespace qdl {

// Byte offsets of the port fields, which differ between PortRecord and LegacyPortRecord.
struct PortLayout {
    std::size_t size;
    std::size_t port;           // serial device name
    std::size_t port_width;
    std::size_t modem_dial;
    std::size_t stopbits;
    std::size_t parity;
    std::size_t baudrate;
    std::size_t modem_turn;     // followed by the ten 32-bit fields MODEM_TURN .. KWT_T5PP
    std::size_t multisess;
    std::size_t bxln_channel;
    std::size_t bxln_pn;
    std::size_t bxln_control;
    std::size_t bxln_port;
    std::size_t bxln_addr;
};

struct Edition {
    const char* version;              // 23 characters and a NUL
    int last_kind;                    // record kinds 1..last_kind exist
    bool registry_path;               // path from the registry (else the fixed default name)
    bool extended;                    // modem records and the _Ex functions exist
    PortLayout port;
    bool port_writes_modem_dial;      // serial add writes MODEM_DIAL right after TYPE
    bool port_reads_kbrt_serial;      // "kbRT_KWT_SERIAL" reads as a serial port
    std::size_t port_read_chars;      // characters of PORT that a read copies
    std::uint32_t timeout_zero_becomes;  // a time-out of 0 is stored as this
};

// The offsets of a port record layout, taken from the record type itself.
template <class Record>
constexpr PortLayout port_layout_of() {
    return {
        .size = sizeof(Record),
        .port = offsetof(Record, port),
        .port_width = sizeof(Record::port),
        .modem_dial = offsetof(Record, modem_dial),
        .stopbits = offsetof(Record, stopbits),
        .parity = offsetof(Record, parity),
        .baudrate = offsetof(Record, baudrate),
        .modem_turn = offsetof(Record, modem_turn),
        .multisess = offsetof(Record, multisess),
        .bxln_channel = offsetof(Record, bxln_channel),
        .bxln_pn = offsetof(Record, bxln_pn),
        .bxln_control = offsetof(Record, bxln_control),
        .bxln_port = offsetof(Record, bxln_port),
        .bxln_addr = offsetof(Record, bxln_addr),
    };
}

inline constexpr Edition kCurrentEdition = {
    .version = "QDL Version 3.00 (44a1)",
    .last_kind = RECORD_MODEM,
    .registry_path = true,
    .extended = true,
    .port = port_layout_of<PortRecord>(),
    .port_writes_modem_dial = false,
    .port_reads_kbrt_serial = true,
    .port_read_chars = 6,
    .timeout_zero_becomes = 0,
};

}  // namespace qdl

#include "legacy/legacy_edition.h"

namespace qdl {

#if defined(QDL_EDITION_LEGACY)
inline constexpr const Edition& kEdition = kLegacyEdition;
#elif defined(QDL_EDITION_SELECTABLE)
// The tool's own core (never a shared library): the current library's code with the edition
// chosen once at start, before the first call (qdlcfg --legacy selects kLegacyEdition).
inline Edition kEdition = kCurrentEdition;
#else
inline constexpr const Edition& kEdition = kCurrentEdition;
#endif

// Whether the modem records and the extended functions are compiled in (the current library's
// sources); kEdition.extended says whether they are in use.
#if defined(QDL_EDITION_LEGACY)
inline constexpr bool kModemsBuilt = false;
#else
inline constexpr bool kModemsBuilt = true;
#endif

}  // namespace qdl
