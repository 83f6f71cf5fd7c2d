#include "form_encoder.h"

#include <iconv.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace form {
namespace {

class Writer {
  public:
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void u8(uint8_t v) { bytes.push_back(v); }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void raw(const std::string &s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void raw(const std::vector<uint8_t> &b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
    void text(const std::string &s) { // NUL-terminated
        raw(s);
        u8(0);
    }
    void counted(const std::string &s) { // u32 length, then the bytes
        u32(uint32_t(s.size()));
        raw(s);
    }
    std::vector<uint8_t> bytes;
};

std::optional<std::string> ToGbk(const std::string &utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == iconv_t(-1)) return std::nullopt;
    std::string out(utf8.size() * 2 + 4, '\0');
    char *in = const_cast<char *>(utf8.data());
    size_t inLeft = utf8.size();
    char *o = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == size_t(-1)) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::optional<EncodedForm> Encode(const Form &form, std::string &error) {
    EncodedForm out;
    auto gbk = [&](const std::string &s) -> std::string {
        auto g = ToGbk(s);
        if (!g) error = "no GBK form for \"" + s + "\"";
        return g.value_or("");
    };
    auto icon = [&](const std::string &path) -> std::vector<uint8_t> {
        std::ifstream in(path, std::ios::binary);
        if (!in) error = "cannot read the icon " + path;
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    };

    std::vector<uint32_t> ids;
    std::vector<std::vector<uint8_t>> bodies;
    // Offsets of handler fields inside each body, to be made absolute once the layout is known.
    std::vector<std::vector<std::pair<uint32_t, std::string>>> sites;
    for (const Unit &u : form.units) {
        Writer w;
        std::vector<std::pair<uint32_t, std::string>> unitSites;
        w.u32(u.type);
        w.zeros(20);
        w.text(gbk(u.name));
        w.text("");
        w.u32(0);
        w.i32(u.left);
        w.i32(u.top);
        w.i32(u.width);
        w.i32(u.height);
        w.u32(0);
        w.u32(u.parent);
        w.u32(uint32_t(u.children.size()));
        for (uint32_t c : u.children) w.u32(c);
        w.u32(4);
        w.u32(u.cursor);
        w.u32(0);
        w.u8(0);
        bool active = u.type == kEditBox || u.type == kComboBox || u.type == kCheckBox || u.type == kButton ||
                      u.type == kListView;
        w.u32(active ? 5 : 1);
        w.u32(0);
        w.u32(uint32_t(u.events.size()));
        for (const Binding &b : u.events) {
            w.i32(b.event);
            unitSites.emplace_back(uint32_t(w.bytes.size()), b.handler);
            w.u32(0); // the handler's code offset, filled by the image builder
        }
        switch (u.type) {
        case kWindow: {
            std::vector<uint8_t> ico = icon(u.iconFile);
            w.u32(uint32_t(ico.size()));
            w.raw(ico);
            w.u32(0);
            w.counted(gbk(u.caption));
            w.u32(0);
            break;
        }
        case kLabel:
        case kCheckBox:
            w.counted(gbk(u.caption));
            w.zeros(8);
            break;
        case kButton:
        case kGroupBox: w.counted(gbk(u.caption)); break;
        case kPicture: {
            std::vector<uint8_t> ico = icon(u.iconFile);
            w.u32(uint32_t(ico.size()));
            w.raw(ico);
            break;
        }
        case kListView: {
            Writer columns;
            for (const Column &c : u.columns) {
                columns.u8(0);
                columns.i32(-1);
                columns.u32(0);
                columns.u32(c.width);
                columns.text(gbk(c.caption));
            }
            w.u32(uint32_t(columns.bytes.size()));
            w.raw(columns.bytes);
            break;
        }
        case kEditBox: w.u32(u.inputSetting); break;
        default: break;
        }
        ids.push_back(u.id);
        bodies.push_back(std::move(w.bytes));
        sites.push_back(std::move(unitSites));
    }
    for (const MenuItem &m : form.menu) {
        Writer w;
        std::vector<std::pair<uint32_t, std::string>> unitSites;
        w.u32(kMenuItem);
        w.zeros(20);
        w.text("");
        w.text("");
        w.u32(0);
        w.u32(m.level);
        w.u32(0);
        w.text(gbk(m.caption));
        if (!m.handler.empty()) unitSites.emplace_back(uint32_t(w.bytes.size()), m.handler);
        w.i32(m.handler.empty() ? -1 : 0);
        w.zeros(16);
        ids.push_back(m.id);
        bodies.push_back(std::move(w.bytes));
        sites.push_back(std::move(unitSites));
    }
    if (!error.empty()) return std::nullopt;

    Writer all;
    all.u32(8);
    all.u32(form.windowId);
    for (uint32_t v : {0x0274B960u, 0u, 0x19010009u, 0u, 0u}) all.u32(v);
    uint32_t n = uint32_t(ids.size());
    all.u32(n);
    size_t lengthField = all.bytes.size();
    all.u32(0);
    for (uint32_t id : ids) all.u32(id);
    uint32_t offset = 0;
    for (const auto &body : bodies) {
        all.u32(offset);
        offset += 4 + uint32_t(body.size());
    }
    for (size_t i = 0; i < bodies.size(); ++i) {
        all.u32(uint32_t(bodies[i].size()));
        size_t bodyStart = all.bytes.size();
        all.raw(bodies[i]);
        for (const auto &[at, symbol] : sites[i]) out.handlerSites.emplace_back(uint32_t(bodyStart + at), symbol);
    }
    uint32_t following = uint32_t(all.bytes.size() - lengthField - 4);
    std::memcpy(all.bytes.data() + lengthField, &following, 4);
    out.bytes = std::move(all.bytes);
    return out;
}

} // namespace form
