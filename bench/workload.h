// workload.h - the ports the benchmarks fill files with: serial ports P000001... with every
// field set (PORT, TYPE, STOPBITS, PARITY, BAUDRATE, MODEM_TURN, the ten KWT timers, MULTISESS
// and both time-outs), as records_bench and scale_host add them.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "tskqdl32.h"

namespace bench_workload {

inline std::string port_name(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "P%06d", i);
    return name;
}

inline PortRecord full_port(const std::string& name) {
    PortRecord r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.name, sizeof r.name, "%s", name.c_str());
    r.port_type = PORT_KWT_SERIAL;
    r.connect_timeout = 5000;
    r.request_timeout = 10000;
    std::memcpy(r.port, "COM1", 5);
    r.stopbits = 1;
    r.parity = QDL_PARITY_EVEN;
    r.baudrate = 19200;
    r.modem_turn = 1500;
    r.kwt_t1 = 10000;
    r.kwt_t2 = 20000;
    r.kwt_t3 = 30000;
    r.kwt_t3p = 31000;
    r.kwt_t3pp = 32000;
    r.kwt_t4 = 40000;
    r.kwt_t5 = 50000;
    r.kwt_t5p = 51000;
    r.kwt_t5pp = 52000;
    r.multisess = 1;
    r.bxln_channel = QDL_UNSET16;
    std::memset(r.bxln_control, 0xFF, sizeof r.bxln_control);
    std::memset(r.bxln_port, 0xFF, sizeof r.bxln_port);
    std::memset(r.bxln_addr, 0xFF, sizeof r.bxln_addr);
    return r;
}

}  // namespace bench_workload
