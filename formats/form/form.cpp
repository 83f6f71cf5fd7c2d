#include "form.h"

#include <cstring>
#include <set>

#include "formats/byte_reader.h"
#include "formats/text/text.h"

namespace form {

std::string_view Describe(Problem p) {
    switch (p) {
    case Problem::ShortHeader: return "the form segment is shorter than its header";
    case Problem::HeaderWord: return "the form segment's header word is wrong";
    case Problem::TooManyUnits: return "the form segment declares too many units";
    case Problem::ShortLength: return "the form segment is shorter than its stated length";
    case Problem::TablesOutside: return "the unit tables run past the form segment";
    case Problem::UnitTwice: return "the unit appears twice";
    case Problem::UnitOutside: return "the unit lies outside the form segment";
    case Problem::UnitCut: return "the unit is cut short";
    case Problem::MenuLevel: return "a menu level other than 0 and 1";
    case Problem::MenuItemFirst: return "a menu item before any menu";
    case Problem::HandlerOutside: return "a handler outside the code";
    case Problem::TooManyChildren: return "too many children";
    case Problem::TooManyEvents: return "too many events";
    case Problem::ColumnsOutside: return "the columns run past the unit";
    case Problem::ColumnCut: return "a column is cut short";
    case Problem::UnknownType: return "unknown unit type";
    case Problem::BadSize: return "a negative or too large size";
    case Problem::SecondWindow: return "a second window unit";
    case Problem::NoWindow: return "the form has no window unit";
    case Problem::ParentNotGroupBox: return "its parent is no group box";
    case Problem::ChildNotOwned: return "a child that does not belong to it";
    }
    return "unknown problem";
}

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

namespace {

constexpr uint32_t kMaxUnits = 1024;
constexpr uint32_t kMaxChildren = 1024;
constexpr uint32_t kMaxEvents = 64;
constexpr uint32_t kMaxColumns = 64;
constexpr int32_t kMaxSize = 16384;

// Units that take input carry 5 in one of their fixed words, the others 1.
bool TakesInput(uint32_t type) {
    return type == kEditBox || type == kComboBox || type == kCheckBox || type == kButton || type == kListView;
}

// ---- The two directions of one layout -----------------------------------------------------------
// A unit's layout is written once, as a function template over the direction: the Writer appends each
// field, the Reader fills it in from the bytes. Fields the layout fixes are written with their value
// and skipped when read.

class Writer {
  public:
    void word(uint32_t &v) { put(v); }
    void word(int32_t &v) { put(uint32_t(v)); }
    void fixed(uint32_t v) { put(v); }
    void fixedByte(uint8_t v) { bytes.push_back(v); }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void text(std::string &s) { // NUL-terminated
        raw(s.data(), s.size());
        bytes.push_back(0);
    }
    void emptyText() { bytes.push_back(0); }
    template <typename Bytes> void counted(Bytes &b) { // a word with the length, then the bytes
        put(uint32_t(b.size()));
        raw(b.data(), b.size());
    }
    // A word with the count, then each item.
    template <typename T, typename Fn> void list(std::vector<T> &items, uint32_t, Problem, Fn fn) {
        put(uint32_t(items.size()));
        for (T &item : items) fn(item);
    }
    // A word with the byte length of what fn writes, then those bytes, holding items up to its end.
    template <typename T, typename Fn> void sizedList(std::vector<T> &items, uint32_t, Fn fn) {
        Writer inner;
        for (T &item : items) fn(inner, item);
        counted(inner.bytes);
    }
    // A handler's code offset: the offset itself, or 0 with a site for the image builder to fill.
    template <typename Offset> void handler(Offset &offset, const std::string &symbol) {
        if (symbol.empty()) return put(uint32_t(offset));
        sites.push_back({uint32_t(bytes.size()), symbol});
        put(0);
    }
    void unknownType() {}

    std::vector<uint8_t> bytes;
    std::vector<HandlerSite> sites; // offsets in these bytes

  private:
    void put(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void raw(const void *p, size_t n) {
        const auto *b = static_cast<const uint8_t *>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};

// Reads fields one after another; the first read past the end, or a count over its limit, marks the
// whole body bad with that problem.
class Reader {
  public:
    explicit Reader(ByteReader r) : r_(r) {}
    bool ok() const { return !failure; }
    size_t at() const { return at_; }

    void word(uint32_t &v) { v = take(r_.u32le(at_), 4); }
    void word(int32_t &v) { v = int32_t(take(r_.u32le(at_), 4)); }
    void fixed(uint32_t) { skip(4); }
    void fixedByte(uint8_t) { skip(1); }
    void zeros(size_t n) { skip(n); }
    void text(std::string &s) {
        auto t = r_.text(at_);
        if (!t) return fail(Problem::UnitCut);
        at_ += t->size() + 1;
        s.assign(*t);
    }
    void emptyText() {
        std::string ignored;
        text(ignored);
    }
    template <typename Bytes> void counted(Bytes &b) {
        uint32_t n = 0;
        word(n);
        auto s = r_.span(at_, n);
        if (!ok() || !s) return fail(Problem::UnitCut);
        at_ += n;
        b.assign(s->begin(), s->end());
    }
    template <typename T, typename Fn> void list(std::vector<T> &items, uint32_t limit, Problem tooMany, Fn fn) {
        uint32_t n = 0;
        word(n);
        if (n > limit) return fail(tooMany);
        for (uint32_t k = 0; k < n && ok(); ++k) {
            T item{};
            fn(item);
            items.push_back(std::move(item));
        }
    }
    template <typename T, typename Fn> void sizedList(std::vector<T> &items, uint32_t limit, Fn fn) {
        uint32_t n = 0;
        word(n);
        if (!ok()) return;
        auto span = r_.span(at_, n);
        if (!span) return fail(Problem::ColumnsOutside);
        Reader inner{ByteReader(*span)};
        while (inner.ok() && inner.at() < n && items.size() < limit) {
            T item{};
            fn(inner, item);
            if (inner.ok()) items.push_back(std::move(item));
        }
        if (!inner.ok()) return fail(Problem::ColumnCut);
        at_ += n;
    }
    template <typename Offset> void handler(Offset &offset, const std::string &) {
        uint32_t v = 0;
        word(v);
        offset = Offset(v);
    }
    void unknownType() { fail(Problem::UnknownType); }

    std::optional<Problem> failure;

  private:
    void fail(Problem p) {
        if (!failure) failure = p;
    }
    void skip(size_t n) {
        if (!ok() || !r_.has(at_, n)) return fail(Problem::UnitCut);
        at_ += n;
    }
    uint32_t take(std::optional<uint32_t> v, size_t n) {
        if (!ok() || !v) {
            fail(Problem::UnitCut);
            return 0;
        }
        at_ += n;
        return *v;
    }
    ByteReader r_;
    size_t at_ = 0;
};

// ---- The layout of a unit body, once for both directions ----------------------------------------

template <typename Io> void TransferColumn(Io &io, Column &c) {
    io.fixedByte(0);
    io.fixed(uint32_t(-1));
    io.fixed(0);
    io.word(c.width);
    io.text(c.caption);
}

template <typename Io> void TransferControl(Io &io, Control &u) {
    io.word(u.type);
    io.zeros(kUnitReserved);
    io.text(u.name);
    io.emptyText(); // the remark
    io.fixed(0);
    io.word(u.left);
    io.word(u.top);
    io.word(u.width);
    io.word(u.height);
    io.fixed(0);
    io.word(u.parent);
    io.list(u.children, kMaxChildren, Problem::TooManyChildren, [&](uint32_t &child) { io.word(child); });
    io.fixed(4);
    io.word(u.cursor);
    io.fixed(0);
    io.fixedByte(0);
    io.fixed(TakesInput(u.type) ? 5 : 1);
    io.fixed(0);
    io.list(u.events, kMaxEvents, Problem::TooManyEvents, [&](Event &e) {
        io.word(e.number);
        io.handler(e.handler, e.symbol);
    });
    switch (u.type) {
    case kWindow:
        io.counted(u.icon);
        io.fixed(0);
        io.counted(u.caption);
        io.fixed(0);
        break;
    case kLabel:
    case kCheckBox:
        io.counted(u.caption);
        io.zeros(8);
        break;
    case kButton:
    case kGroupBox: io.counted(u.caption); break;
    case kPicture: io.counted(u.icon); break;
    case kListView:
        io.sizedList(u.columns, kMaxColumns, [](auto &inner, Column &c) { TransferColumn(inner, c); });
        break;
    case kEditBox: io.word(u.inputSetting); break;
    case kComboBox: break;
    default: io.unknownType(); break;
    }
}

template <typename Io> void TransferMenuItem(Io &io, MenuItem &m) {
    io.fixed(kMenuItem);
    io.zeros(kUnitReserved);
    io.emptyText(); // the name
    io.emptyText(); // the remark
    io.fixed(0);
    io.word(m.level);
    io.fixed(0);
    io.text(m.caption);
    io.handler(m.handler, m.symbol);
    io.zeros(16);
}

} // namespace

Encoded EncodeForm(const Form &form) {
    std::vector<uint32_t> ids;
    std::vector<Writer> bodies;
    auto add = [&](uint32_t id, auto transfer, auto unit) { // by value: the layout takes fields by reference
        Writer w;
        transfer(w, unit);
        ids.push_back(id);
        bodies.push_back(std::move(w));
    };
    add(
        form.window.id, [](Writer &w, Control &u) { TransferControl(w, u); }, form.window);
    for (const Control &c : form.controls)
        add(
            c.id, [](Writer &w, Control &u) { TransferControl(w, u); }, c);
    for (const MenuItem &m : form.menu)
        add(
            m.id, [](Writer &w, MenuItem &u) { TransferMenuItem(w, u); }, m);

    Writer all;
    all.fixed(kHeaderWord);
    all.fixed(form.windowId);
    for (uint32_t v : kFixedWords) all.fixed(v);
    all.fixed(uint32_t(ids.size()));
    size_t lengthField = all.bytes.size();
    all.fixed(0);
    for (uint32_t id : ids) all.fixed(id);
    uint32_t offset = 0;
    for (const Writer &body : bodies) {
        all.fixed(offset);
        offset += 4 + uint32_t(body.bytes.size());
    }
    Encoded out;
    for (Writer &body : bodies) {
        all.fixed(uint32_t(body.bytes.size()));
        size_t start = all.bytes.size();
        all.bytes.insert(all.bytes.end(), body.bytes.begin(), body.bytes.end());
        for (HandlerSite &site : body.sites)
            out.handlerSites.push_back({uint32_t(start + site.offset), std::move(site.symbol)});
    }
    uint32_t following = uint32_t(all.bytes.size() - lengthField - 4);
    std::memcpy(all.bytes.data() + lengthField, &following, 4);
    out.bytes = std::move(all.bytes);
    return out;
}

namespace {

// The checks that need the whole form: one window, parents that are group boxes, children that
// belong to their group box.
void CheckStructure(const Form &form, bool haveWindow, std::vector<Finding> &problems) {
    if (!haveWindow) problems.push_back({Problem::NoWindow, {}});
    for (const Control &u : form.controls) {
        if (u.parent != 0) {
            const Control *p = form.Find(u.parent);
            if (!p || p->type != kGroupBox)
                problems.push_back({Problem::ParentNotGroupBox, "unit " + rt::Hex(u.id, 8)});
        }
        for (uint32_t child : u.children) {
            const Control *ch = form.Find(child);
            if (!ch || ch->parent != u.id) problems.push_back({Problem::ChildNotOwned, "unit " + rt::Hex(u.id, 8)});
        }
    }
}

} // namespace

Decoded DecodeForm(std::span<const uint8_t> bytes, uint32_t codeSize) {
    Decoded result;
    auto problem = [&](Problem p, std::string where = {}) { result.problems.push_back({p, std::move(where)}); };
    ByteReader r(bytes);
    Reader head(r);
    uint32_t word = 0, count = 0, following = 0;
    Form form;
    head.word(word);
    head.word(form.windowId);
    head.zeros(sizeof kFixedWords);
    head.word(count);
    head.word(following);
    if (!head.ok()) return {std::nullopt, {{Problem::ShortHeader, {}}}};
    if (word != kHeaderWord) problem(Problem::HeaderWord);
    if (count > kMaxUnits) return {std::nullopt, {{Problem::TooManyUnits, std::to_string(count)}}};
    if (following > bytes.size() - head.at()) problem(Problem::ShortLength);
    size_t ids = head.at(), offsets = ids + size_t{4} * count,
           units = offsets + size_t{4} * count; // count is small: checked above
    if (!r.has(ids, 8ull * count)) return {std::nullopt, {{Problem::TablesOutside, {}}}};

    auto handlerOutside = [&](int64_t handler) { return codeSize && handler >= 0 && uint64_t(handler) >= codeSize; };
    std::set<uint32_t> seen;
    bool haveWindow = false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id = *r.u32le(ids + 4 * i);
        uint32_t offset = *r.u32le(offsets + 4 * i);
        std::string where = "unit " + rt::Hex(id, 8);
        if (!seen.insert(id).second) problem(Problem::UnitTwice, where);
        auto length = r.u32le(units + offset);
        if (units + offset > bytes.size() || !length || !r.has(units + offset + 4, *length)) {
            problem(Problem::UnitOutside, where);
            continue;
        }
        ByteReader body(*r.span(units + offset + 4, *length));
        Reader io(body);
        if (body.u32le(0) == kMenuItem) {
            MenuItem m;
            m.id = id;
            TransferMenuItem(io, m);
            if (!io.ok()) problem(*io.failure, where);
            else if (m.level > 1) problem(Problem::MenuLevel, where);
            else if (m.level == 1 && form.menu.empty()) problem(Problem::MenuItemFirst, where);
            else if (m.handler < kNoHandler || handlerOutside(m.handler)) problem(Problem::HandlerOutside, where);
            else form.menu.push_back(m);
            continue;
        }
        Control u;
        u.id = id;
        TransferControl(io, u);
        if (!io.ok()) {
            problem(*io.failure, where);
            continue;
        }
        for (const Event &e : u.events)
            if (handlerOutside(e.handler)) problem(Problem::HandlerOutside, where);
        if (u.width < 0 || u.height < 0 || u.width > kMaxSize || u.height > kMaxSize) problem(Problem::BadSize, where);
        if (u.type != kWindow) form.controls.push_back(std::move(u));
        else if (haveWindow) problem(Problem::SecondWindow, where);
        else {
            form.window = std::move(u);
            haveWindow = true;
        }
    }
    CheckStructure(form, haveWindow, result.problems);
    if (result.problems.empty()) result.form = std::move(form);
    return result;
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
    if (!headerSize || *headerSize < 40 || !width || !doubleHeight || bits != 32 || compression != 0)
        return std::nullopt;
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

} // namespace form
