#include "ipdb_reader.h"

#include <map>

#include "formats/byte_reader.h"

namespace ipdb {

std::string_view Describe(Problem p) {
    switch (p) {
    case Problem::ShortHeader: return "the file is shorter than its header";
    case Problem::MetadataOutside: return "the metadata runs past the file";
    case Problem::BadMetadata: return "the metadata is not what the format holds";
    case Problem::NoIpv4: return "the database holds no IPv4 addresses";
    case Problem::SizeMismatch: return "the data is not as long as the metadata says";
    case Problem::NodesOutside: return "the node table runs past the data";
    case Problem::NodeOutOfRange: return "a node points outside the database";
    case Problem::RecordOutside: return "a record runs past the data";
    case Problem::Ipv4RootMissing: return "the IPv4 part of the trie has no root";
    }
    return "unknown problem";
}

namespace {

// The few JSON values the metadata holds, parsed with bounds on every read and on nesting.
class Json {
  public:
    explicit Json(std::string_view text) : s_(text) {}

    bool ParseMetadata(Metadata &m) {
        bool sawFields = false, sawNodes = false, sawSize = false;
        std::map<std::string, uint64_t> languages;
        bool ok = Object([&](const std::string &key) {
            if (key == "build") return Number(m.build);
            if (key == "ip_version") return Number32(m.ipVersion);
            if (key == "node_count") return sawNodes = Number32(m.nodeCount);
            if (key == "total_size") return sawSize = Number(m.totalSize);
            if (key == "fields") return sawFields = Strings(m.fields);
            if (key == "languages") return Object([&](const std::string &name) { return Number(languages[name]); });
            return Skip(0);
        });
        Blank();
        if (!ok || at_ != s_.size() || !sawFields || !sawNodes || !sawSize || languages.empty()) return false;
        // The first language's fields: the smallest offset.
        uint64_t first = UINT64_MAX;
        for (const auto &[name, offset] : languages) first = std::min(first, offset);
        if (first > 1024) return false;
        m.languageOffset = uint32_t(first);
        return true;
    }

  private:
    static constexpr int kMaxDepth = 16;

    void Blank() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
    }
    bool Take(char c) {
        Blank();
        if (at_ >= s_.size() || s_[at_] != c) return false;
        ++at_;
        return true;
    }
    bool Peek(char c) {
        Blank();
        return at_ < s_.size() && s_[at_] == c;
    }
    template <typename Member> bool Object(Member member) {
        if (!Take('{')) return false;
        if (Take('}')) return true;
        do {
            std::string key;
            if (!String(key) || !Take(':') || !member(key)) return false;
        } while (Take(','));
        return Take('}');
    }
    bool String(std::string &out) {
        if (!Take('"')) return false;
        while (at_ < s_.size() && s_[at_] != '"') {
            char c = s_[at_++];
            if (c == '\\') {
                if (at_ >= s_.size()) return false;
                char e = s_[at_++];
                if (e == 'u') { // field names are ASCII; other characters are kept as '?'
                    if (at_ + 4 > s_.size()) return false;
                    at_ += 4;
                    c = '?';
                } else {
                    c = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
                }
            }
            out += c;
        }
        return Take('"');
    }
    bool Number(uint64_t &out) {
        Blank();
        size_t start = at_;
        out = 0;
        while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9' && at_ - start < 19)
            out = out * 10 + uint64_t(s_[at_++] - '0');
        return at_ > start;
    }
    bool Number32(uint32_t &out) {
        uint64_t v;
        if (!Number(v) || v > UINT32_MAX) return false;
        out = uint32_t(v);
        return true;
    }
    bool Strings(std::vector<std::string> &out) {
        if (!Take('[')) return false;
        if (Take(']')) return true;
        do {
            std::string s;
            if (!String(s)) return false;
            out.push_back(std::move(s));
        } while (Take(','));
        return Take(']');
    }
    // Any value, passed over.
    bool Skip(int depth) {
        if (depth > kMaxDepth) return false;
        if (Peek('"')) {
            std::string ignored;
            return String(ignored);
        }
        if (Peek('{')) return Object([&](const std::string &) { return Skip(depth + 1); });
        if (Take('[')) {
            if (Take(']')) return true;
            do
                if (!Skip(depth + 1)) return false;
            while (Take(','));
            return Take(']');
        }
        size_t start = at_;
        while (at_ < s_.size() && std::string_view("-+.eE0123456789truefalsn").find(s_[at_]) != std::string_view::npos)
            ++at_;
        return at_ > start;
    }

    std::string_view s_;
    size_t at_ = 0;
};

} // namespace

rt::Result<Reader, Finding> Reader::Open(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    auto length = r.u32le(0);
    if (!length) return Finding{Problem::ShortHeader, {}};
    uint32_t n = __builtin_bswap32(*length); // big-endian
    auto json = r.span(4, n);
    if (!json) return Finding{Problem::MetadataOutside, {}};
    Metadata meta;
    if (!Json(std::string_view(reinterpret_cast<const char *>(json->data()), json->size())).ParseMetadata(meta))
        return Finding{Problem::BadMetadata, {}};
    if (!(meta.ipVersion & 1)) return Finding{Problem::NoIpv4, {}};
    std::span<const uint8_t> data = bytes.subspan(4 + size_t(n));
    if (data.size() != meta.totalSize) return Finding{Problem::SizeMismatch, std::to_string(data.size()) + " bytes"};
    if (uint64_t(meta.nodeCount) * 8 > data.size()) return Finding{Problem::NodesOutside, {}};
    return Reader(data, std::move(meta));
}

std::optional<uint32_t> Reader::Child(uint32_t node, int bit) const {
    ByteReader r(data_);
    auto word = r.u32le(size_t(node) * 8 + size_t(bit) * 4);
    if (!word) return std::nullopt;
    return __builtin_bswap32(*word);
}

rt::Result<std::vector<std::string_view>, Finding> Reader::Record(uint32_t node) const {
    ByteReader r(data_);
    uint64_t offset = uint64_t(node) - meta_.nodeCount + uint64_t(meta_.nodeCount) * 8;
    auto size = offset <= SIZE_MAX ? r.u16be(size_t(offset)) : std::nullopt;
    auto bytes = size ? r.span(size_t(offset) + 2, *size) : std::nullopt;
    if (!bytes) return Finding{Problem::RecordOutside, "node " + std::to_string(node)};
    std::string_view text(reinterpret_cast<const char *>(bytes->data()), bytes->size());
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t tab = text.find('\t', start);
        parts.push_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    std::vector<std::string_view> fields(meta_.fields.size());
    for (size_t i = 0; i < fields.size() && meta_.languageOffset + i < parts.size(); ++i)
        fields[i] = parts[meta_.languageOffset + i];
    return fields;
}

rt::Result<uint32_t, Finding> Reader::Ipv4Root() const {
    // IPv4 addresses lie under ::ffff:0:0/96 (80 zero bits, then 16 one bits).
    uint32_t node = 0;
    for (int i = 0; i < 96 && node < meta_.nodeCount; ++i) {
        auto next = Child(node, i >= 80 ? 1 : 0);
        if (!next) return Finding{Problem::NodesOutside, {}};
        node = *next;
    }
    if (node >= meta_.nodeCount && meta_.nodeCount > 0) return Finding{Problem::Ipv4RootMissing, {}};
    return node;
}

rt::Result<bool, Finding> Reader::ForEachIpv4Range(const RangeFn &fn) const {
    auto root = Ipv4Root();
    if (!root) return root.error();
    struct Step {
        uint32_t node, prefix;
        int depth;
    };
    std::vector<Step> stack{{*root, 0, 0}};
    // A trie visits each node once; a file whose nodes point back into the trie would make it
    // revisit them without end, so the walk is bounded by the node count.
    uint64_t budget = 2 * uint64_t(meta_.nodeCount) + 64;
    while (!stack.empty()) {
        Step s = stack.back();
        stack.pop_back();
        if (budget-- == 0) return Finding{Problem::NodeOutOfRange, "the trie revisits its nodes"};
        if (s.node < meta_.nodeCount && s.depth < 32) {
            auto left = Child(s.node, 0), right = Child(s.node, 1);
            if (!left || !right) return Finding{Problem::NodesOutside, {}};
            uint32_t half = uint32_t(1) << (31 - s.depth);
            stack.push_back({*right, s.prefix | half, s.depth + 1}); // the left half comes out first
            stack.push_back({*left, s.prefix, s.depth + 1});
            continue;
        }
        if (s.node < meta_.nodeCount) return Finding{Problem::NodeOutOfRange, "deeper than 32 bits"};
        uint32_t last = s.depth == 0 ? UINT32_MAX : s.prefix | ((uint32_t(1) << (32 - s.depth)) - 1);
        if (s.node == meta_.nodeCount) {
            fn(s.prefix, last, nullptr);
            continue;
        }
        auto fields = Record(s.node);
        if (!fields) return fields.error();
        fn(s.prefix, last, &*fields);
    }
    return true;
}

rt::Result<std::optional<std::vector<std::string_view>>, Finding> Reader::Lookup(uint32_t address) const {
    auto root = Ipv4Root();
    if (!root) return root.error();
    uint32_t node = *root;
    for (int i = 0; i < 32 && node < meta_.nodeCount; ++i) {
        auto next = Child(node, (address >> (31 - i)) & 1);
        if (!next) return Finding{Problem::NodesOutside, {}};
        node = *next;
    }
    if (node < meta_.nodeCount) return Finding{Problem::NodeOutOfRange, "deeper than 32 bits"};
    if (node == meta_.nodeCount) return std::optional<std::vector<std::string_view>>();
    auto fields = Record(node);
    if (!fields) return fields.error();
    return std::optional<std::vector<std::string_view>>(std::move(*fields));
}

} // namespace ipdb
