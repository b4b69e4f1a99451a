// legacy_edition.h - what the legacy library ("QDL Version 1.01 (03a1)") does differently:
// record kinds 1 to 3 only, no modem records and no extended functions, the fixed file
// "tsk_cfg.ini" in the Windows directory (no registry read), the older port layout
// (LegacyPortRecord: a 6-byte serial port name, everything after it 2 bytes lower), MODEM_DIAL
// written with a serial port, "kbRT_KWT_SERIAL" not a port type, PORT read as four characters,
// and time-outs of 0 stored as 50. Its five exports are listed in exports/tskqdl32_legacy.def
// and exports/tskqdl32_legacy.map.
#pragma once

// Included by frame/edition.h after PortLayout and Edition are defined.

namespace qdl {

inline constexpr PortLayout kLegacyPortLayout = {
    sizeof(LegacyPortRecord),
    offsetof(LegacyPortRecord, port), sizeof(LegacyPortRecord::port),
    offsetof(LegacyPortRecord, modem_dial), offsetof(LegacyPortRecord, stopbits),
    offsetof(LegacyPortRecord, parity), offsetof(LegacyPortRecord, baudrate),
    offsetof(LegacyPortRecord, modem_turn), offsetof(LegacyPortRecord, multisess),
    offsetof(LegacyPortRecord, bxln_channel), offsetof(LegacyPortRecord, bxln_pn),
    offsetof(LegacyPortRecord, bxln_control), offsetof(LegacyPortRecord, bxln_port),
    offsetof(LegacyPortRecord, bxln_addr),
};

inline constexpr Edition kLegacyEdition = {
    "QDL Version 1.01 (03a1)", RECORD_GLOBAL, false, false, kLegacyPortLayout,
    true, false, 4, 50,
};

}  // namespace qdl
