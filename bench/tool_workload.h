// tool_workload.h - the ports of the tool's benchmarks as the command line would give them:
// every field of a serial port set (18 keys), or all but the five optional ones (13 keys).
#pragma once

#include <string_view>
#include <utility>

#include "qdlcfg/engine/fields.hpp"
#include "workload.h"

namespace bench_workload {

inline bool port_record(int i, int keys, qdlcfg::Record& out) {
    static constexpr std::pair<const char*, const char*> kFields[] = {
        {"type", "kwt-serial"}, {"connect_timeout", "5000"}, {"request_timeout", "10000"},
        {"port", "COM1"},       {"stopbits", "1"},           {"parity", "even"},
        {"baudrate", "19200"},  {"modem_turn", "1500"},      {"kwt_t1", "10000"},
        {"kwt_t2", "20000"},    {"kwt_t3", "30000"},         {"kwt_t3p", "31000"},
        {"kwt_t3pp", "32000"},  {"kwt_t4", "40000"},         {"kwt_t5", "50000"},
        {"kwt_t5p", "51000"},   {"kwt_t5pp", "52000"},       {"multisess", "yes"}};
    using qdlcfg::Kind;
    out.put(qdlcfg::name_field(Kind::Port), qdlcfg::Value{true, port_name(i), 0});
    for (const auto& [key, text] : kFields) {
        const std::string_view k(key);
        if (keys < 18 && (k == "kwt_t3p" || k == "kwt_t3pp" || k == "kwt_t5p" ||
                          k == "kwt_t5pp" || k == "multisess")) {
            continue;
        }
        const qdlcfg::Field* field = qdlcfg::find_field(Kind::Port, key);
        qdlcfg::Value value;
        if (field == nullptr || !qdlcfg::parse_value(*field, text, value).empty()) return false;
        out.put(*field, value);
    }
    return true;
}

}  // namespace bench_workload
