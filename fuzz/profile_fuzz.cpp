// profile_fuzz.cpp - the Linux profile store (parser, cache and editor) against a reference
// model of the file that is written here from the documented reading rules alone.
//
//   reference    Model: the file re-parsed after every operation (sections with their
//                entries); ref_read_* give the bytes the Win32 profile functions return for it,
//                ref_set / ref_delete_* what a write must do to it
//   decoding     Input: file bytes, then operations; names are often taken from the model (with
//                changed letter case and white space) so that reads and writes hit the file
//   operations   value, key list, section list and integer reads (whole buffers compared, the
//                bytes past the result included); writes and deletes (the file read back and
//                re-parsed must equal the model with the change applied, every byte outside
//                the section written stays, a delete that finds nothing changes nothing);
//                several writes in one call scope; an outside edit in place with the old
//                modification time restored (the next read must see it)
//
// Input:
//   byte 0       options: bit 0 code page 932 instead of 1252
//   bytes 1-2    length of the initial file (little-endian, cut to what is there)
//   then         the file, then operations until the input ends
//
// Built twice: as a libFuzzer target (QDL_BUILD_FUZZ, clang) and, with replay_main.cpp, as a
// plain program that replays the files it is given (a ctest test over the corpus).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "testing/hooks.h"

namespace {

namespace pf = qdl::platform;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "profile_fuzz: %s\n", what.c_str());
    std::abort();
}

std::string show(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// ---- Reference model ---------------------------------------------------------------------------

bool white(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
}

std::string strip(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && white(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && white(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The active code page's lead bytes (932) or none (1252).
bool g_double_byte = false;

bool lead(unsigned char c) { return g_double_byte && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)); }

// Names match without regard to the case of ASCII letters; every other character (a double-byte
// one whole, its trail byte never taken for a letter) exactly.
bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lead(static_cast<unsigned char>(a[i]))) {
            if (a.substr(i, 2) != b.substr(i, 2)) return false;
            ++i;
        } else if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

struct Entry {
    std::string name;
    bool equals = false;
    std::string value;
    bool operator==(const Entry&) const = default;
};

struct Section {
    bool header = false;  // false only for the nameless part before the first header
    std::string name;
    std::vector<Entry> entries;
    bool operator==(const Section&) const = default;
};

struct Model {
    std::vector<Section> sections{Section{}};  // [0] is the nameless part
    // Where each section begins in the text it was parsed from (its header line); 0 for the
    // nameless part. Not part of the comparison.
    std::vector<std::size_t> starts{0};
    bool operator==(const Model& other) const { return sections == other.sections; }
};

// The file as the profile functions read it: lines end at any run of CR and LF, lines are
// trimmed, a '[' line with a ']' is a header named by what lies between '[' and the last ']'.
Model parse_model(std::string_view text) {
    Model m;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t begin = pos;
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        const std::string line = strip(text.substr(pos, end - pos));
        pos = end;
        while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
        if (line.empty()) continue;
        const std::size_t close = line.rfind(']');
        if (line[0] == '[' && close != std::string::npos && close > 0) {
            m.sections.push_back(Section{true, strip(line.substr(1, close - 1)), {}});
            m.starts.push_back(begin);
            continue;
        }
        Entry e;
        const std::size_t eq = line.find('=');
        e.equals = eq != std::string::npos;
        e.name = strip(line.substr(0, eq));
        if (e.equals) e.value = strip(line.substr(eq + 1));
        m.sections.back().entries.push_back(std::move(e));
    }
    return m;
}

std::string describe(const Model& m) {
    std::string out;
    for (const Section& s : m.sections) {
        out += s.header ? '[' + show(s.name) + "]\n" : "(nameless)\n";
        for (const Entry& e : s.entries) {
            out += "  " + show(e.name) + (e.equals ? " = " + show(e.value) : " (no =)") + "\n";
        }
    }
    return out;
}

// The first section of that name; the nameless part for a name that is empty once trimmed.
Section* find_section(Model& m, std::string_view name) {
    const std::string wanted = strip(name);
    if (wanted.empty()) return &m.sections[0];
    for (std::size_t i = 1; i < m.sections.size(); ++i) {
        if (!m.sections[i].name.empty() && same_name(m.sections[i].name, wanted)) {
            return &m.sections[i];
        }
    }
    return nullptr;
}

Entry* find_entry(Section& s, std::string_view key) {
    const std::string wanted = strip(key);
    for (Entry& e : s.entries) {
        if (same_name(e.name, wanted)) return &e;
    }
    return nullptr;
}

std::string without_quotes(std::string s) {
    if (s.size() >= 2 && (s[0] == '"' || s[0] == '\'') && s.back() == s[0]) {
        return s.substr(1, s.size() - 2);
    }
    return s;
}

// Bytes of s that fit in `room` without splitting a double-byte character (a lead byte before
// a NUL or at the end stands alone).
std::size_t whole_characters(std::string_view s, std::size_t room) {
    if (s.size() <= room) return s.size();
    std::size_t taken = 0;
    while (taken < s.size()) {
        std::size_t width = 1;
        if (lead(static_cast<unsigned char>(s[taken])) && taken + 1 < s.size() &&
            s[taken + 1] != '\0') {
            width = 2;
        }
        if (taken + width > room) break;
        taken += width;
    }
    return taken;
}

// What a read leaves in a buffer of `size` bytes (0xCC where nothing is written), and its
// result.
struct Reading {
    std::uint32_t ret = 0;
    std::vector<char> buffer;
};

constexpr char kUntouched = static_cast<char>(0xCC);
constexpr std::size_t kSlack = 16;

Reading blank(std::uint32_t size) { return {0, std::vector<char>(size + kSlack, kUntouched)}; }

Reading as_string(std::string_view s, std::uint32_t size) {
    Reading r = blank(size);
    if (size == 0) return r;
    const std::size_t n = whole_characters(s, size - 1);
    std::copy_n(s.data(), n, r.buffer.data());
    r.buffer[n] = '\0';
    r.ret = static_cast<std::uint32_t>(n);
    return r;
}

// A list of NUL-terminated names and its final NUL; cut, it ends in two NULs at size - 2.
Reading as_list(std::string_view list, std::uint32_t size) {
    Reading r = blank(size);
    if (size == 0) return r;
    if (list.size() + 2 <= size) {
        std::copy(list.begin(), list.end(), r.buffer.begin());
        r.buffer[list.size()] = '\0';
        r.ret = static_cast<std::uint32_t>(list.size());
        return r;
    }
    if (size == 1) {
        r.buffer[0] = '\0';
        return r;
    }
    const std::size_t n = whole_characters(list, size - 2);
    std::copy_n(list.data(), n, r.buffer.data());
    r.buffer[n] = '\0';
    r.buffer[n + 1] = '\0';
    r.ret = static_cast<std::uint32_t>(n);
    return r;
}

Reading ref_read_value(Model& m, const std::string& section, const std::string& key,
                       const std::optional<std::string>& def, std::uint32_t size) {
    Section* s = find_section(m, section);
    const Entry* e = s != nullptr ? find_entry(*s, key) : nullptr;
    if (e != nullptr && e->equals) return as_string(without_quotes(e->value), size);
    std::string d = def.value_or("");
    while (!d.empty() && d.back() == ' ') d.pop_back();
    return as_string(without_quotes(d), size);
}

Reading ref_read_keys(Model& m, const std::string& section, const std::optional<std::string>& def,
                      std::uint32_t size) {
    std::string list;
    if (Section* s = find_section(m, section); s != nullptr) {
        for (const Entry& e : s->entries) {
            if (!e.equals || e.name.empty() || e.name[0] == ';') continue;
            list += e.name;
            list.push_back('\0');
        }
    }
    if (list.empty()) return as_string(without_quotes(def.value_or("")), size);
    return as_list(list, size);
}

Reading ref_read_sections(const Model& m, std::uint32_t size) {
    std::string list;
    for (std::size_t i = 1; i < m.sections.size(); ++i) {
        if (m.sections[i].name.empty()) continue;
        list += m.sections[i].name;
        list.push_back('\0');
    }
    if (list.empty()) {
        Reading r = blank(size);
        if (size > 0) r.buffer[0] = '\0';
        return r;
    }
    return as_list(list, size);
}

// GetPrivateProfileIntA: the value read into 30 bytes; empty gives the default; otherwise
// white space, a sign, a lower-case 0x / 0o / 0b prefix, digits up to the first other byte.
std::uint32_t ref_read_int(Model& m, const std::string& section, const std::string& key,
                           std::int32_t def) {
    const Reading r = ref_read_value(m, section, key, std::string(), 30);
    const std::string text(r.buffer.data());
    if (text.empty()) return static_cast<std::uint32_t>(def);
    std::size_t i = 0;
    while (i < text.size() && white(static_cast<unsigned char>(text[i]))) ++i;
    bool minus = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) minus = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        const char p = text[i + 1];
        base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
        if (base != 10) i += 2;
    }
    std::uint32_t n = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 99;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        if (digit >= base) break;
        n = n * base + digit;
    }
    return minus ? 0u - n : n;
}

// A set: the first entry of that name in the first section of that name gets the value
// (an entry without '=' gains one); otherwise a new entry ends the section, or a new section
// ends the file. Names and values lose their outer white space in the file.
void ref_set(Model& m, const std::string& section, const std::string& key,
             const std::string& value) {
    Section* s = find_section(m, section);
    if (s == nullptr) {
        m.sections.push_back(Section{true, strip(section), {}});
        s = &m.sections.back();
    }
    if (Entry* e = find_entry(*s, key); e != nullptr) {
        e->equals = true;
        e->value = strip(value);
        return;
    }
    s->entries.push_back(Entry{strip(key), true, strip(value)});
}

// The deletes return whether they removed anything.
bool ref_delete_key(Model& m, const std::string& section, const std::string& key) {
    Section* s = find_section(m, section);
    if (s == nullptr) return false;
    const std::string wanted = strip(key);
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
        if (same_name(it->name, wanted)) {
            s->entries.erase(it);
            return true;
        }
    }
    return false;
}

bool ref_delete_section(Model& m, const std::string& section) {
    Section* s = find_section(m, section);
    if (s == nullptr) return false;
    if (!s->header) {
        const bool any = !s->entries.empty();
        s->entries.clear();
        return any;
    }
    m.sections.erase(m.sections.begin() + (s - m.sections.data()));
    return true;
}

// The bytes of a text that a write to `section` may change: the first section of that name,
// from its header line to the next header; for a new section, only the end of the file.
struct Span {
    std::size_t begin, end;
};

Span section_span(const std::string& text, const std::string& section) {
    Model old = parse_model(text);
    const Section* s = find_section(old, section);
    if (s == nullptr) return {text.size(), text.size()};
    const std::size_t i = static_cast<std::size_t>(s - old.sections.data());
    return {old.starts[i], i + 1 < old.starts.size() ? old.starts[i + 1] : text.size()};
}

// ---- Input decoding ----------------------------------------------------------------------------

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string bytes(std::size_t n) {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A name: one of the model's section or entry names, with its letter case and surrounding
// white space changed, or raw bytes. NUL bytes cannot cross the C interface and are dropped.
std::string name_from(Input& in, const Model& m, bool entry_name) {
    const std::uint8_t how = in.byte();
    std::string name;
    if ((how & 3) != 0) {
        std::vector<const std::string*> names;
        for (const Section& s : m.sections) {
            if (!entry_name && s.header) names.push_back(&s.name);
            if (entry_name) {
                for (const Entry& e : s.entries) names.push_back(&e.name);
            }
        }
        if (!names.empty()) name = *names[in.byte() % names.size()];
        if (how & 4) {
            for (char& c : name) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
        if (how & 8) name = " " + name;
        if (how & 16) name += "\t";
    } else {
        name = in.bytes(in.byte() % 24);
    }
    std::erase(name, '\0');
    return name;
}

// Names and values that a write can put in a file so that it reads back as written: no line
// breaks or NULs anywhere, no '=' in a key, and no key that would read as a header.
std::string writable(std::string s, bool key) {
    std::erase_if(s, [&](char c) {
        return c == '\0' || c == '\r' || c == '\n' || (key && c == '=');
    });
    if (key) {
        const std::size_t first = s.find_first_not_of(" \t\v\f\x1A");
        if (first != std::string::npos && s[first] == '[') s[first] = '_';
    }
    return s;
}

std::uint32_t buffer_size(Input& in) {
    const std::uint8_t b = in.byte();
    return b >= 240 ? 300u : b % 80u;
}

std::optional<std::string> default_from(Input& in) {
    const std::uint8_t b = in.byte();
    if (b % 5 == 0) return std::nullopt;
    std::string d = in.bytes(b % 12);
    std::erase(d, '\0');
    return d;
}

// ---- The file and the checks -------------------------------------------------------------------

std::string g_dir;
std::string g_path;

std::string read_text() {
    std::string text;
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

void write_text(const std::string& text) {
    ::unlink(g_path.c_str());
    const int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        fail("cannot write the fuzz file");
    }
    ::close(fd);
}

// Another program changes bytes in place, keeping the size when it can, and puts the old
// modification time back: only the change time tells.
void outside_edit(Input& in) {
    struct stat before {};
    if (::stat(g_path.c_str(), &before) != 0) return;
    const std::string patch = in.bytes(in.byte() % 16);
    const std::size_t at = before.st_size > 0 ? in.byte() % before.st_size : 0;
    const int fd = ::open(g_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open the fuzz file for an outside edit");
    if (::pwrite(fd, patch.data(), patch.size(), static_cast<off_t>(at)) < 0) fail("pwrite");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ::futimens(fd, times);
    ::close(fd);
}

void compare(const Reading& expected, std::uint32_t ret, const std::vector<char>& buffer,
             const std::string& what, const Model& m) {
    if (expected.ret == ret && expected.buffer == buffer) return;
    fail(what + ": ret " + std::to_string(ret) + " buffer \"" +
         show(std::string_view(buffer.data(), buffer.size())) + "\", expected ret " +
         std::to_string(expected.ret) + " buffer \"" +
         show(std::string_view(expected.buffer.data(), expected.buffer.size())) + "\"\nmodel:\n" +
         describe(m));
}

void check_file(const Model& expected, const std::string& what) {
    const std::string text = read_text();
    const Model actual = parse_model(text);
    if (actual == expected) return;
    fail(what + ": the file reads\n" + describe(actual) + "expected\n" + describe(expected) +
         "text: \"" + show(text) + "\"");
}

const char* opt_c_str(const std::optional<std::string>& s) {
    return s ? s->c_str() : nullptr;
}

void op_read_value(Input& in, Model& m) {
    const std::string section = name_from(in, m, false);
    const std::string key = name_from(in, m, true);
    const auto def = default_from(in);
    const std::uint32_t size = buffer_size(in);
    std::vector<char> buffer(size + kSlack, kUntouched);
    const std::uint32_t ret = pf::profile_get_string(section.c_str(), key.c_str(),
                                                     opt_c_str(def), buffer.data(), size,
                                                     g_path.c_str());
    compare(ref_read_value(m, section, key, def, size), ret, buffer,
            "value [" + show(section) + "] " + show(key) + " size " + std::to_string(size), m);
}

void op_read_keys(Input& in, Model& m) {
    const std::string section = name_from(in, m, false);
    const auto def = default_from(in);
    const std::uint32_t size = buffer_size(in);
    std::vector<char> buffer(size + kSlack, kUntouched);
    const std::uint32_t ret = pf::profile_get_string(section.c_str(), nullptr, opt_c_str(def),
                                                     buffer.data(), size, g_path.c_str());
    compare(ref_read_keys(m, section, def, size), ret, buffer,
            "key list [" + show(section) + "] size " + std::to_string(size), m);
}

void op_read_sections(Input& in, Model& m) {
    const std::uint32_t size = buffer_size(in);
    std::vector<char> buffer(size + kSlack, kUntouched);
    const std::uint32_t ret =
        pf::profile_get_string(nullptr, nullptr, "x", buffer.data(), size, g_path.c_str());
    compare(ref_read_sections(m, size), ret, buffer, "section list size " + std::to_string(size),
            m);
}

void op_read_int(Input& in, Model& m) {
    const std::string section = name_from(in, m, false);
    const std::string key = name_from(in, m, true);
    const std::int32_t def = static_cast<std::int8_t>(in.byte());
    const std::uint32_t got = pf::profile_get_int(section.c_str(), key.c_str(), def,
                                                  g_path.c_str());
    const std::uint32_t want = ref_read_int(m, section, key, def);
    if (got != want) {
        fail("int [" + show(section) + "] " + show(key) + ": " + std::to_string(got) +
             ", expected " + std::to_string(want) + "\nmodel:\n" + describe(m));
    }
}

// One write, applied to the model and to the file (in the open scope, if any). Returns its
// description.
// `unchanged` is set when the write must leave every byte as it was (a delete that finds
// nothing), `span` to the bytes of the file as it was that the write may change.
std::string one_write(Input& in, Model& m, bool& unchanged, Span& span) {
    const std::uint8_t kind = in.byte() % 4;
    const std::string section = writable(name_from(in, m, false), false);
    span = section_span(read_text(), section);
    unchanged = false;
    bool ok = false;
    std::string what;
    if (kind <= 1) {
        const std::string key = writable(name_from(in, m, true), true);
        const std::string value = writable(in.bytes(in.byte() % 20), false);
        ref_set(m, section, key, value);
        ok = pf::profile_write_string(section.c_str(), key.c_str(), value.c_str(),
                                      g_path.c_str());
        what = "set [" + show(section) + "] " + show(key) + "=" + show(value);
    } else if (kind == 2) {
        const std::string key = name_from(in, m, true);
        unchanged = !ref_delete_key(m, section, key);
        ok = pf::profile_write_string(section.c_str(), key.c_str(), nullptr, g_path.c_str());
        what = "delete key [" + show(section) + "] " + show(key);
    } else {
        unchanged = !ref_delete_section(m, section);
        ok = pf::profile_write_string(section.c_str(), nullptr, nullptr, g_path.c_str());
        what = "delete section [" + show(section) + "]";
    }
    if (!ok) fail(what + ": the write failed");
    return what;
}

// Bytes outside the span of the write are kept exactly.
void check_locality(const std::string& before, bool unchanged, Span span,
                    const std::string& what) {
    const std::string after = read_text();
    if (unchanged && after != before) fail(what + ": a write that changes nothing changed bytes");
    const std::size_t tail = before.size() - span.end;
    if (after.compare(0, span.begin, before, 0, span.begin) == 0 && after.size() >= tail &&
        after.compare(after.size() - tail, tail, before, span.end, tail) == 0) {
        return;
    }
    fail(what + ": bytes outside [" + std::to_string(span.begin) + ", " +
         std::to_string(span.end) + ") changed\nbefore: \"" + show(before) + "\"\nafter:  \"" +
         show(after) + "\"");
}

void op_write(Input& in, Model& m) {
    const std::string before = read_text();
    bool unchanged = false;
    Span span{};
    const std::string what = one_write(in, m, unchanged, span);
    check_file(m, what);
    check_locality(before, unchanged, span, what);
}

// Several writes in one call scope reach the file together at its end; reads inside the
// scope see them at once.
void op_batch(Input& in, Model& m) {
    const Model before = m;
    std::string what = "batch:";
    {
        pf::CallScope scope(pf::Access::Write);
        const int writes = 1 + in.byte() % 4;
        for (int i = 0; i < writes; ++i) {
            bool unchanged = false;
            Span span{};
            what += ' ' + one_write(in, m, unchanged, span) + ';';
            if (in.byte() & 1) op_read_value(in, m);
        }
        check_file(before, what + " (before the scope ended)");
        if (!scope.finish()) fail(what + ": the replacement failed");
    }
    check_file(m, what);
}

void run(Input& in) {
    Model m = parse_model(read_text());
    for (int ops = 0; !in.done() && ops < 64; ++ops) {
        switch (in.byte() % 9) {
        case 0: op_read_value(in, m); break;
        case 1: op_read_keys(in, m); break;
        case 2: op_read_sections(in, m); break;
        case 3: op_read_int(in, m); break;
        case 4:
        case 5: op_write(in, m); break;
        case 6: op_batch(in, m); break;
        case 7:
            outside_edit(in);
            m = parse_model(read_text());
            break;
        default:
            write_text(in.bytes(in.byte()));
            m = parse_model(read_text());
            break;
        }
    }
}

void set_up_once() {
    if (!g_path.empty()) return;
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/qdl-profile-fuzz-XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) fail("mkdtemp");
    g_dir = templ;
    g_path = g_dir + "/fuzz.ini";
    std::atexit([] {
        ::unlink(g_path.c_str());
        ::unlink((g_path + ".lock").c_str());
        ::rmdir(g_dir.c_str());
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    set_up_once();
    Input in(data, size);
    g_double_byte = (in.byte() & 1) != 0;
    pf::set_code_page_for_tests(g_double_byte ? 932 : 1252);
    const std::size_t length = in.byte() | (std::size_t{in.byte()} << 8);
    write_text(in.bytes(length));
    run(in);
    return 0;
}
