#include "form.h"

#include <set>

#include "../image/byte_reader.h"

namespace rt::form {
namespace {

constexpr uint32_t kHeaderWord = 8;
constexpr uint32_t kMaxUnits = 1024;
constexpr uint32_t kMaxChildren = 1024;
constexpr uint32_t kMaxEvents = 64;
constexpr uint32_t kMaxColumns = 64;
constexpr uint32_t kUnitReserved = 20;

// Reads fields one after another; the first read past the end marks the whole body bad.
class Cursor {
  public:
    Cursor(ByteReader r, size_t at) : r_(r), at_(at) {}
    bool ok() const { return ok_; }
    size_t at() const { return at_; }
    uint32_t u32() {
        auto v = r_.u32le(at_);
        return take(v, 4);
    }
    int32_t i32() { return int32_t(u32()); }
    uint8_t u8() {
        auto v = r_.u8(at_);
        return take(v, 1);
    }
    void skip(size_t n) {
        if (!r_.has(at_, n)) ok_ = false;
        else at_ += n;
    }
    std::string text() { // NUL-terminated
        auto t = r_.text(at_);
        if (!t) {
            ok_ = false;
            return {};
        }
        at_ += t->size() + 1;
        return std::string(*t);
    }
    std::vector<uint8_t> counted() { // u32 length, then the bytes
        uint32_t n = u32();
        auto s = r_.span(at_, n);
        if (!ok_ || !s) {
            ok_ = false;
            return {};
        }
        at_ += n;
        return {s->begin(), s->end()};
    }
    std::string countedText() {
        auto b = counted();
        return std::string(b.begin(), b.end());
    }

  private:
    template <typename T> T take(std::optional<T> v, size_t n) {
        if (!v || !ok_) {
            ok_ = false;
            return T{};
        }
        at_ += n;
        return *v;
    }
    ByteReader r_;
    size_t at_;
    bool ok_ = true;
};

bool KnownControl(uint32_t type) {
    switch (type) {
    case kEditBox:
    case kPicture:
    case kGroupBox:
    case kLabel:
    case kButton:
    case kCheckBox:
    case kComboBox:
    case kListView: return true;
    default: return false;
    }
}

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

} // namespace

const Control *Form::Find(uint32_t id) const {
    if (window.id == id) return &window;
    for (const Control &c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

std::optional<uint32_t> Form::Handler(uint32_t id, int32_t event) const {
    const Control *c = Find(id);
    if (!c) return std::nullopt;
    for (const Event &e : c->events)
        if (e.number == event) return e.handler;
    return std::nullopt;
}

DecodeResult DecodeForm(std::span<const uint8_t> bytes, uint32_t codeSize) {
    DecodeResult result;
    auto problem = [&](std::string p) { result.problems.push_back(std::move(p)); };
    ByteReader r(bytes);
    Cursor head(r, 0);
    uint32_t word = head.u32();
    Form form;
    form.windowId = head.u32();
    head.skip(5 * 4);
    uint32_t count = head.u32();
    uint32_t following = head.u32();
    if (!head.ok()) return {std::nullopt, {"the form segment is shorter than its header"}};
    if (word != kHeaderWord) problem("the form segment's header word is " + std::to_string(word));
    if (count > kMaxUnits) return {std::nullopt, {"the form segment declares " + std::to_string(count) + " units"}};
    if (following > bytes.size() - head.at()) problem("the form segment is shorter than its stated length");
    size_t ids = head.at(), offsets = ids + 4ull * count, units = offsets + 4ull * count;
    if (!r.has(ids, 8ull * count)) return {std::nullopt, {"the unit tables run past the form segment"}};

    std::set<uint32_t> seen;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id = *r.u32le(ids + 4 * i);
        uint32_t offset = *r.u32le(offsets + 4 * i);
        std::string where = "unit " + Hex(id);
        if (!seen.insert(id).second) problem(where + " appears twice");
        auto length = r.u32le(units + offset);
        if (units + offset > bytes.size() || !length || !r.has(units + offset + 4, *length)) {
            problem(where + " lies outside the form segment");
            continue;
        }
        ByteReader body(*r.span(units + offset + 4, *length));
        Cursor c(body, 0);
        uint32_t type = c.u32();
        c.skip(kUnitReserved);
        if (type == kMenuItem) {
            MenuItem m;
            m.id = id;
            c.text();
            c.text();
            c.u32();
            m.level = c.u32();
            c.u32();
            m.caption = c.text();
            m.handler = c.i32();
            c.skip(16);
            if (!c.ok()) problem(where + ": the menu item is cut short");
            else if (m.level > 1) problem(where + ": menu level " + std::to_string(m.level));
            else if (m.level == 1 && form.menu.empty()) problem(where + ": a menu item before any menu");
            else if (m.handler < -1 || (codeSize && m.handler >= 0 && uint32_t(m.handler) >= codeSize))
                problem(where + ": handler outside the code");
            else form.menu.push_back(m);
            continue;
        }
        Control u;
        u.id = id;
        u.type = type;
        u.name = c.text();
        c.text(); // remark
        c.u32();
        u.left = c.i32();
        u.top = c.i32();
        u.width = c.i32();
        u.height = c.i32();
        c.u32();
        u.parent = c.u32();
        uint32_t children = c.u32();
        if (children > kMaxChildren) {
            problem(where + ": " + std::to_string(children) + " children");
            continue;
        }
        for (uint32_t k = 0; k < children && c.ok(); ++k) u.children.push_back(c.u32());
        c.u32();
        u.cursor = c.u32();
        c.u32();
        c.u8();
        c.u32();
        c.u32();
        uint32_t events = c.u32();
        if (events > kMaxEvents) {
            problem(where + ": " + std::to_string(events) + " events");
            continue;
        }
        for (uint32_t k = 0; k < events && c.ok(); ++k) {
            Event e{c.i32(), c.u32()};
            if (codeSize && e.handler >= codeSize) problem(where + ": handler outside the code");
            u.events.push_back(e);
        }
        switch (type) {
        case kWindow:
            u.icon = c.counted();
            c.u32();
            u.caption = c.countedText();
            c.u32();
            break;
        case kLabel:
        case kCheckBox:
            u.caption = c.countedText();
            c.skip(8);
            break;
        case kButton:
        case kGroupBox: u.caption = c.countedText(); break;
        case kPicture: u.icon = c.counted(); break;
        case kListView: {
            uint32_t columnBytes = c.u32();
            auto entries = body.sub(c.at(), columnBytes);
            if (!entries) {
                problem(where + ": the columns run past the unit");
                continue;
            }
            Cursor col(*entries, 0);
            while (col.ok() && col.at() < columnBytes && u.columns.size() < kMaxColumns) {
                col.u8();
                col.i32();
                col.u32();
                Column column;
                column.width = col.u32();
                column.caption = col.text();
                if (col.ok()) u.columns.push_back(column);
            }
            if (!col.ok()) problem(where + ": a column is cut short");
            c.skip(columnBytes);
            break;
        }
        case kEditBox: u.inputSetting = c.u32(); break;
        case kComboBox: break;
        default: problem(where + ": unknown unit type " + Hex(type)); continue;
        }
        if (!c.ok()) {
            problem(where + " is cut short");
            continue;
        }
        if (u.width < 0 || u.height < 0 || u.width > 16384 || u.height > 16384)
            problem(where + ": size " + std::to_string(u.width) + " x " + std::to_string(u.height));
        if (type == kWindow) {
            if (form.window.id) problem("a second window unit " + Hex(id));
            form.window = u;
        } else {
            form.controls.push_back(u);
        }
    }
    if (!form.window.id) problem("the form has no window unit");
    for (const Control &u : form.controls) {
        if (!KnownControl(u.type)) continue;
        if (u.parent != 0) {
            const Control *p = form.Find(u.parent);
            if (!p || p->type != kGroupBox) problem("unit " + Hex(u.id) + ": its parent is no group box");
        }
        for (uint32_t child : u.children) {
            const Control *ch = form.Find(child);
            if (!ch || ch->parent != u.id) problem("unit " + Hex(u.id) + ": child " + Hex(child) + " does not belong to it");
        }
    }
    if (result.problems.empty()) result.form = std::move(form);
    return result;
}

std::optional<Form> DecodeWindowForm(std::span<const uint8_t> bytes, uint32_t codeSize, std::string &error) {
    DecodeResult decoded = DecodeForm(bytes, codeSize);
    if (decoded.form) return std::move(decoded.form);
    error = "The window description is invalid:";
    for (const std::string &p : decoded.problems) error += "\n  " + p;
    return std::nullopt;
}

std::optional<Icon> DecodeIco(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    if (r.u16le(0) != 0 || r.u16le(2) != 1 || !r.u16le(4) || *r.u16le(4) < 1) return std::nullopt;
    auto size = r.u32le(6 + 8);
    auto offset = r.u32le(6 + 12);
    if (!size || !offset) return std::nullopt;
    auto image = r.sub(*offset, *size);
    if (!image) return std::nullopt;
    // BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
    auto headerSize = image->u32le(0);
    auto width = image->u32le(4);
    auto doubleHeight = image->u32le(8);
    auto bits = image->u16le(14);
    auto compression = image->u32le(16);
    if (!headerSize || *headerSize < 40 || !width || !doubleHeight || bits != 32 || compression != 0) return std::nullopt;
    uint32_t w = *width, h = *doubleHeight / 2;
    if (w == 0 || h == 0 || w > 1024 || h > 1024) return std::nullopt;
    auto pixels = image->span(*headerSize, size_t(w) * h * 4);
    if (!pixels) return std::nullopt;
    Icon icon{w, h, std::vector<uint32_t>(size_t(w) * h)};
    for (uint32_t row = 0; row < h; ++row)
        for (uint32_t col = 0; col < w; ++col) {
            const uint8_t *p = pixels->data() + (size_t(h - 1 - row) * w + col) * 4; // bottom row first
            icon.argb[size_t(row) * w + col] = uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    return icon;
}

} // namespace rt::form
