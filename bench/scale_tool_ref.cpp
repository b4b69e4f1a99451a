// scale_tool_ref.cpp - the yardsticks of qdlcfg's verbs in bench/scale.sh, each one short
// process that scale.sh times from outside (wall clock, peak resident size), as it times the
// verbs themselves. Built on the tool's own document code (qdlcfg_verbs), so that the
// yardstick parses and writes documents exactly as the verbs do.
//
//   scale_tool_ref document N PATH [KEYS [compact]]
//                                         writes the document an export of the global
//                                         parameters and N serial ports P000001... gives:
//                                         every field of their type set (KEYS 18), or the 13
//                                         without kwt_t3p, kwt_t3pp, kwt_t5p, kwt_t5pp and
//                                         multisess (KEYS 13); indented as export writes it,
//                                         or without any white space (compact)
//   scale_tool_ref serialise N [KEYS]     builds the same records and serialises them as that
//                                         document (to /dev/null): what an export cannot avoid
//   scale_tool_ref parse-rewrite DOC FILE the document read and parsed (the tool's
//                                         read_document), then FILE replaced once by its own
//                                         bytes (temporary file, fsync, rename, fsync of the
//                                         directory): what an import or apply cannot avoid
//   scale_tool_ref read FILE              one whole-file read
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "native_files.h"
#include "tool_workload.h"
#include "qdlcfg/document/document.hpp"
#include "qdlcfg/document/reconcile.hpp"

namespace {

using namespace bench_files;
using bench_workload::port_name;
using bench_workload::port_record;
using qdlcfg::Json;
using qdlcfg::Kind;


std::string document_text(int n, int keys, bool compact = false) {
    Json doc = Json::object();
    doc["format"] = "tskqdl32-configuration";
    doc["version"] = 1;
    Json ports = Json::array();
    for (int i = 1; i <= n; ++i) {
        qdlcfg::Record r(Kind::Port);
        if (!port_record(i, keys, r)) return {};
        ports.push_back(qdlcfg::record_to_json(r, qdlcfg::JsonStyle::Export));
    }
    doc["ports"] = std::move(ports);
    doc["devices"] = Json::array();
    doc["modems"] = Json::array();
    doc["global"] = {{"connect_timeout", 5000}, {"request_timeout", 20000}};
    return (compact ? doc.dump() : doc.dump(2)) + "\n";
}

int fail(const char* what) {
    std::fprintf(stderr, "scale_tool_ref: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "document" && argc >= 4 && argc <= 6) {
        const int keys = argc >= 5 ? std::atoi(argv[4]) : 18;
        const bool compact = argc == 6 && std::string_view(argv[5]) == "compact";
        const std::string text = document_text(std::atoi(argv[2]), keys, compact);
        return !text.empty() && write_file(argv[3], text) ? 0 : fail("cannot write");
    }
    if (mode == "serialise" && (argc == 3 || argc == 4)) {
        const int keys = argc == 4 ? std::atoi(argv[3]) : 18;
        const std::string text = document_text(std::atoi(argv[2]), keys);
        return !text.empty() && write_file("/dev/null", text) ? 0 : fail("cannot serialise");
    }
    if (mode == "parse-rewrite" && argc == 4) {
        std::string doc, file;
        if (!read_file(argv[2], doc) || !read_file(argv[3], file)) return fail("cannot read");
        const qdlcfg::DocumentContent content = qdlcfg::read_document(doc, false);
        if (content.records.empty()) return fail("the document did not parse");
        return replace_file(argv[3], file) ? 0 : fail("cannot rewrite");
    }
    if (mode == "read" && argc == 3) {
        std::string text;
        return read_file(argv[2], text) ? 0 : fail("cannot read");
    }
    return fail("usage: scale_tool_ref document N PATH [KEYS [compact]] | serialise N [KEYS] | "
                "parse-rewrite DOC FILE | read FILE");
}
