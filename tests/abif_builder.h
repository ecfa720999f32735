// Small ABIF files built in memory, for the reader's tests and the fuzzers'
// seeds: a 128-byte header, the data of the entries longer than four bytes,
// then the directory of 28-byte entries, all big-endian.
#ifndef KWSIGNAL_TESTS_ABIF_BUILDER_H
#define KWSIGNAL_TESTS_ABIF_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kwtest {

inline void putBE(std::string& s, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xff);
}

class AbifBuilder {
public:
    struct Tag {
        std::string name;
        int number, type, elementSize;
        std::string data;
    };
    std::vector<Tag> tags;

    void add(const std::string& name, int number, int type, int size, const std::string& data) {
        tags.push_back({name, number, type, size, data});
    }
    /// 16-bit words (type 4 signed, 3 unsigned).
    void shorts(const std::string& name, int number, const std::vector<int>& v, int type = 4) {
        std::string d;
        for (int x : v) putBE(d, static_cast<uint32_t>(x) & 0xffff, 2);
        add(name, number, type, 2, d);
    }
    /// A string: type 2 (chars), 18 (Pascal string, length first) or 19
    /// (C string).
    void text(const std::string& name, int number, const std::string& s, int type = 2) {
        add(name, number, type, 1, type == 18 ? static_cast<char>(s.size()) + s : s);
    }
    /// RUND/RUNT of one stamp number.
    void stamp(int number, int hour, int minute, int second, int year = 2009, int month = 2,
               int day = 19) {
        std::string date, time;
        putBE(date, static_cast<uint32_t>(year), 2);
        putBE(date, static_cast<uint32_t>(month), 1);
        putBE(date, static_cast<uint32_t>(day), 1);
        for (int v : {hour, minute, second, 0}) putBE(time, static_cast<uint32_t>(v), 1);
        add("RUND", number, 10, 4, date);
        add("RUNT", number, 11, 4, time);
    }
    std::size_t directoryAt() const {
        std::size_t at = 128;
        for (const Tag& t : tags) at += t.data.size() > 4 ? t.data.size() : 0;
        return at;
    }
    /// Byte offset of a tag's directory entry (the tag must exist).
    std::size_t entryAt(const std::string& name, int number) const {
        std::size_t i = 0;
        while (tags[i].name != name || tags[i].number != number) ++i;
        return directoryAt() + 28 * i;
    }
    std::string build() const {
        std::string head = "ABIF", body, dir;
        putBE(head, 101, 2);
        head += "tdir";
        putBE(head, 1, 4);
        putBE(head, 1023, 2);
        putBE(head, 28, 2);
        putBE(head, static_cast<uint32_t>(tags.size()), 4);
        putBE(head, static_cast<uint32_t>(28 * tags.size()), 4);
        putBE(head, static_cast<uint32_t>(directoryAt()), 4);
        head.resize(128, '\0');
        for (const Tag& t : tags) {
            dir += t.name;
            putBE(dir, static_cast<uint32_t>(t.number), 4);
            putBE(dir, static_cast<uint32_t>(t.type), 2);
            putBE(dir, static_cast<uint32_t>(t.elementSize), 2);
            putBE(dir, static_cast<uint32_t>(t.data.size() / t.elementSize), 4);
            putBE(dir, static_cast<uint32_t>(t.data.size()), 4);
            if (t.data.size() <= 4) {
                dir += t.data + std::string(4 - t.data.size(), '\0');
            } else {
                putBE(dir, static_cast<uint32_t>(128 + body.size()), 4);
                body += t.data;
            }
            putBE(dir, 0, 4);
        }
        return head + body + dir;
    }
};

}  // namespace kwtest

#endif
