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

inline constexpr Edition kLegacyEdition = {
    .version = "QDL Version 1.01 (03a1)",
    .last_kind = RECORD_GLOBAL,
    .registry_path = false,
    .extended = false,
    .port = port_layout_of<LegacyPortRecord>(),
    .port_writes_modem_dial = true,
    .port_reads_kbrt_serial = false,
    .port_read_chars = 4,
    .timeout_zero_becomes = 50,
};

}  // namespace qdl
