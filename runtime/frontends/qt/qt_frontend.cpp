#include "qt_frontend.h"

#include <QApplication>
#include <cstring>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QUrl>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "formats/form/form.h"
#include "runtime/frontends/window_frontend.h"
#include "runtime/frontends/window_placement.h"

namespace rt {
namespace {

QString FromGbk(std::string_view gbk) { return QString::fromStdString(GbkToUtf8(gbk)); }
std::string ToGbk(const QString &s) { return Utf8ToGbk(s.toStdString()); }

QPixmap IconPixmap(const std::vector<uint8_t> &ico) {
    auto icon = form::DecodeIco(ico);
    if (!icon) return {};
    QImage image(int(icon->width), int(icon->height), QImage::Format_ARGB32);
    for (uint32_t y = 0; y < icon->height; ++y)
        std::memcpy(image.scanLine(int(y)), icon->argb.data() + size_t(y) * icon->width, icon->width * 4);
    return QPixmap::fromImage(image);
}

// The emblem: a picture that reports every mouse button press.
class Picture : public QLabel {
  public:
    std::function<void(int32_t, int32_t, int32_t)> pressed;

  protected:
    void mousePressEvent(QMouseEvent *e) override {
        if (pressed) pressed(int32_t(e->button()), int32_t(e->position().x()), int32_t(e->position().y()));
    }
};

// The window's client area: tells when its size changed, so that the list can follow it.
class ClientArea : public QWidget {
  public:
    std::function<void()> resized;

  protected:
    void resizeEvent(QResizeEvent *) override {
        if (resized) resized();
    }
};

class QtWindow final : public QtFrontEnd {
  public:
    QtWindow(FrontEndOptions options, form::Form form)
        : QtFrontEnd(std::move(form), std::move(options.routineAt)), programName_(std::move(options.programName)) {
        // Qt keeps argc and argv for the application's life: they live as long as the process.
        static int argc = 1;
        static std::string name;
        static char *argv[] = {nullptr, nullptr};
        if (!qApp) {
            name = programName_;
            argv[0] = name.data();
            app_ = std::make_unique<QApplication>(argc, argv);
        }
        // The layout's pixel geometry was designed for a 9-point interface font at 96 dpi: 12 pixels.
        QFont font = QApplication::font();
        font.setPixelSize(kFormFontPixels);
        QApplication::setFont(font);
        gui_ = std::this_thread::get_id();
        context_ = std::make_unique<QObject>();
    }

    ~QtWindow() override {
        delete main_;
        context_.reset();
    }

    QMainWindow *mainWindow() const override { return main_; }
    QWidget *control(uint32_t unit) const override {
        auto it = widgets_.find(unit);
        return it == widgets_.end() ? nullptr : it->second;
    }

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::string t(text);
        std::optional<std::string> ti;
        if (title) ti = std::string(*title);
        OnGui([&] {
            QString caption = ti ? FromGbk(*ti) : (main_ ? main_->windowTitle() : QString::fromStdString(programName_));
            if (presenter_) {
                presenter_(GbkToUtf8(t), caption.toStdString());
                return;
            }
            QMessageBox box(QMessageBox::NoIcon, caption, FromGbk(t), QMessageBox::Ok, main_);
            box.exec();
        });
    }

    void ProcessEvents() override {
        // Only the window's own thread may run its events; for the trace thread this does nothing.
        if (OnGuiThread()) QCoreApplication::processEvents();
    }

    void ShowWindow(uint32_t window) override {
        OnGui([&] {
            if (window != form_.windowId || main_) return;
            Build();
            // The window's created event: the history is loaded before the user sees the window.
            Call(form_.Handler(form_.window.id, form::kEventCreated));
            main_->show();
            Place();
        });
    }

    void RunEvents() override {
        if (main_) QApplication::exec();
    }

    void RequestQuit() override {
        QMetaObject::invokeMethod(
            context_.get(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }

    void OpenUrl(std::string_view url) override {
        std::string u = GbkToUtf8(url);
        OnGui([&] {
            if (opener_) opener_(u);
            else QDesktopServices::openUrl(QUrl(QString::fromStdString(u)));
        });
    }

  private:
    // ---- Where the window lies and what it shows ------------------------------------------------

    // The form's rectangle where it fits the available part of its screen, otherwise inside it with
    // a shorter list (Qt's geometry is in device-independent pixels: it scales by itself).
    void Place() {
        const form::Control *list = ListControl();
        QScreen *screen = QGuiApplication::screenAt(QPoint(form_.window.left, form_.window.top));
        if (!screen) screen = QGuiApplication::primaryScreen();
        QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 15, 1 << 15);
        request_.workArea = {area.x(), area.y(), area.width(), area.height()};
        request_.form = {form_.window.left, form_.window.top, form_.window.width, form_.window.height};
        request_.listHeight = list ? list->height : 0;
        request_.minListHeight = list ? FiveRows(list->id) : 0;
        placement_ = PlaceWindow(request_);
        // The designed rectangle is the outer one, frame and caption included.
        QSize frame = main_->frameGeometry().size() - main_->size();
        const PixelRect &r = placement_.window;
        QSize inner(r.width - frame.width(), r.height - frame.height());
        if (placement_.resizable) {
            main_->setMinimumSize(placement_.minWidth - frame.width(), placement_.minHeight - frame.height());
            main_->setMaximumSize(inner.width(), QWIDGETSIZE_MAX);
            main_->resize(inner);
        } else {
            main_->setFixedSize(inner);
        }
        main_->move(r.left, r.top);
        FitList(placement_.listHeight);
    }

    // The list takes the height it is given; what lies below it moves with its lower edge.
    void FitList(int height) {
        const form::Control *list = ListControl();
        if (!list) return;
        int shift = height - list->height;
        for (const form::Control &c : form_.controls) {
            QWidget *w = control(c.id);
            if (c.id == list->id) w->resize(c.width, height);
            else if (BelowTheList(form_, c)) w->move(c.left, c.top + shift);
        }
    }

    // The list's height with its header and five rows, measured with a row of its own font.
    int FiveRows(uint32_t unit) {
        auto *list = qobject_cast<QTreeWidget *>(control(unit));
        if (!list) return 0;
        auto *row = new QTreeWidgetItem(list, QStringList{QStringLiteral("1")});
        int rowHeight = std::max(list->visualItemRect(row).height(), list->fontMetrics().height());
        delete row;
        return list->header()->sizeHint().height() + 5 * rowHeight + 2 * list->frameWidth();
    }

    const form::Control *ListControl() const {
        for (const form::Control &c : form_.controls)
            if (c.type == form::kListView) return &c;
        return nullptr;
    }

    // Each label shows its whole text: wider where the form leaves room to its right, otherwise
    // in the next smaller font that fits.
    void FitLabels() {
        for (const form::Control &c : form_.controls) {
            auto *label = qobject_cast<QLabel *>(control(c.id));
            if (c.type != form::kLabel || !label) continue;
            QFont font = label->font();
            LabelFit fit =
                FitLabel(c.width, RoomToTheRight(form_, c), font.pixelSize(), kSmallestFontPixels, [&](int pixels) {
                    font.setPixelSize(pixels);
                    return QFontMetrics(font).horizontalAdvance(label->text());
                });
            if (fit.fontPixels != label->font().pixelSize()) {
                font.setPixelSize(fit.fontPixels);
                label->setFont(font);
            }
            if (fit.width != c.width) label->resize(fit.width, c.height);
        }
    }

    bool OnGuiThread() const { return std::this_thread::get_id() == gui_; }

    // ---- The widgets mirror the model ----------------------------------------------------------
    // The program changes the model from any thread and goes on at once; the window's thread then
    // brings the widget up to the model's state (so a late update still shows the newest state).

    // The post is made and taken under a standard mutex, so that thread checkers see the hand-off
    // (Qt's own event queue locks with futexes they cannot see).
    void ControlChanged(uint32_t unit, ControlModel::Change change) override {
        if (OnGuiThread()) return Apply(unit, change);
        std::lock_guard posting(postMutex_);
        QMetaObject::invokeMethod(
            context_.get(),
            [this, unit, change] {
                { std::lock_guard taken(postMutex_); }
                Apply(unit, change);
            },
            Qt::QueuedConnection);
    }

    void Apply(uint32_t unit, ControlModel::Change change) {
        QWidget *w = control(unit);
        if (!w) return;
        // The widgets' own changes feed the model; the program's, made here, must not come back.
        QSignalBlocker quiet(w);
        switch (change) {
        case ControlModel::Change::Disabled: w->setEnabled(!controls().Disabled(unit)); break;
        case ControlModel::Change::Text: {
            QString text = FromGbk(controls().Text(unit));
            if (auto *edit = qobject_cast<QLineEdit *>(w); edit && edit->text() != text) edit->setText(text);
            if (auto *combo = qobject_cast<QComboBox *>(w); combo && combo->currentText() != text)
                combo->setEditText(text);
            break;
        }
        case ControlModel::Change::Items:
            if (auto *combo = qobject_cast<QComboBox *>(w)) {
                // Items are only appended or all cleared: only what is new is added.
                size_t shown = size_t(combo->count());
                if (size_t(controls().ItemCount(unit)) < shown) {
                    combo->clear();
                    shown = 0;
                }
                std::vector<std::string> added = controls().ItemsFrom(unit, shown);
                if (added.empty() && shown > 0) break;
                QStringList texts;
                for (const std::string &item : added) texts << FromGbk(item);
                combo->addItems(texts);
                combo->setCurrentIndex(-1); // Qt would select the first item; the edit field keeps its text
                combo->setEditText(FromGbk(controls().Text(unit)));
            }
            break;
        case ControlModel::Change::Rows:
            if (auto *list = qobject_cast<QTreeWidget *>(w)) {
                ControlModel::Control state = controls().Snapshot(unit);
                if (size_t(list->topLevelItemCount()) > state.rows.size()) list->clear();
                while (size_t(list->topLevelItemCount()) < state.rows.size())
                    list->addTopLevelItem(new QTreeWidgetItem(list));
                for (size_t r = 0; r < state.rows.size(); ++r)
                    for (size_t c = 0; c < state.rows[r].size(); ++c) {
                        QString text = FromGbk(state.rows[r][c]);
                        if (list->topLevelItem(int(r))->text(int(c)) != text)
                            list->topLevelItem(int(r))->setText(int(c), text);
                    }
            }
            break;
        }
    }

    // Runs f on the window's thread and waits for it. The wait uses a standard mutex and condition
    // variable (rather than Qt's blocking connection) so that thread checkers see the hand-off.
    template <typename F> auto OnGui(F f) -> decltype(f()) {
        using R = decltype(f());
        if (OnGuiThread()) return f();
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> result{};
        // The caller holds the mutex until it waits, and the window's thread runs f holding it: what
        // the caller prepared is seen by f, and what f produced is seen by the caller.
        std::unique_lock lock(mutex);
        QMetaObject::invokeMethod(
            context_.get(),
            [&] {
                std::lock_guard held(mutex);
                if constexpr (std::is_void_v<R>) f();
                else result.emplace(f());
                done = true;
                finished.notify_one();
            },
            Qt::QueuedConnection);
        finished.wait(lock, [&] { return done; });
        if constexpr (!std::is_void_v<R>) return std::move(*result);
    }

    void Build() {
        main_ = new QMainWindow;
        main_->setWindowTitle(FromGbk(form_.window.caption));
        QPixmap icon = IconPixmap(form_.window.icon);
        if (!icon.isNull()) main_->setWindowIcon(QIcon(icon));
        main_->move(form_.window.left, form_.window.top);
        auto *client = new ClientArea;
        main_->setCentralWidget(client);
        client->resized = [this] {
            if (placement_.resizable) FitList(ListHeightFor(request_, main_->frameGeometry().height()));
        };

        // The menu: entries at level 0, their items below.
        QMenu *menu = nullptr;
        for (const form::MenuItem &m : form_.menu) {
            QString caption = FromGbk(m.caption);
            if (m.level == 0) {
                menu = main_->menuBar()->addMenu(caption);
                continue;
            }
            if (!menu) continue;
            if (m.caption == "-") {
                menu->addSeparator();
                continue;
            }
            QAction *action = menu->addAction(caption);
            if (m.handler >= 0) {
                uint32_t handler = uint32_t(m.handler);
                QObject::connect(action, &QAction::triggered, [this, handler] { Call(handler); });
            }
        }

        // Every control first, then each goes into its parent: group boxes may be stored after their children.
        for (const form::Control &c : form_.controls) widgets_[c.id] = Make(c);
        for (const form::Control &c : form_.controls) {
            QWidget *w = widgets_[c.id];
            QWidget *parent = c.parent ? widgets_[c.parent] : client;
            w->setParent(parent ? parent : client);
            w->setGeometry(c.left, c.top, c.width, c.height);
            w->show();
        }
        // Children of a group box stay above it; controls keep their stored order otherwise.
        for (const form::Control &c : form_.controls)
            if (c.type == form::kGroupBox) widgets_[c.id]->lower();
        FitLabels();
        // What the program set before the window existed.
        for (const form::Control &c : form_.controls)
            for (auto change : {ControlModel::Change::Disabled, ControlModel::Change::Text, ControlModel::Change::Items,
                                ControlModel::Change::Rows})
                Apply(c.id, change);
    }

    QWidget *Make(const form::Control &c) {
        QString caption = FromGbk(c.caption);
        switch (c.type) {
        case form::kGroupBox: return new QGroupBox(caption);
        case form::kLabel: return new QLabel(caption);
        case form::kCheckBox: return new QCheckBox(caption);
        case form::kEditBox: {
            auto *edit = new QLineEdit;
            QObject::connect(edit, &QLineEdit::textChanged,
                             [this, id = c.id](const QString &t) { controls().SetText(id, ToGbk(t)); });
            return edit;
        }
        case form::kComboBox: {
            auto *combo = new QComboBox;
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert); // the program itself records what is traced
            QObject::connect(combo, &QComboBox::editTextChanged,
                             [this, id = c.id](const QString &t) { controls().SetText(id, ToGbk(t)); });
            // A chosen item's own bytes go into the edit field, not their rendering.
            QObject::connect(combo, &QComboBox::activated, [this, id = c.id](int index) {
                if (auto item = controls().Item(id, index)) controls().SetText(id, *item);
            });
            return combo;
        }
        case form::kButton: {
            auto *button = new QPushButton(caption);
            if (auto h = form_.Handler(c.id, form::kEventClicked)) {
                uint32_t handler = *h;
                QObject::connect(button, &QPushButton::clicked, [this, handler] { Call(handler); });
            }
            return button;
        }
        case form::kListView: {
            auto *list = new QTreeWidget;
            list->setRootIsDecorated(false);
            list->setUniformRowHeights(true);
            list->setSelectionBehavior(QAbstractItemView::SelectRows);
            list->setColumnCount(int(c.columns.size()));
            QStringList headers;
            for (const form::Column &col : c.columns) headers << FromGbk(col.caption);
            list->setHeaderLabels(headers);
            list->header()->setStretchLastSection(false);
            for (size_t i = 0; i < c.columns.size(); ++i) list->setColumnWidth(int(i), int(c.columns[i].width));
            return list;
        }
        case form::kPicture: {
            auto *picture = new Picture;
            QPixmap pixmap = IconPixmap(c.icon);
            if (!pixmap.isNull())
                picture->setPixmap(pixmap.scaled(c.width, c.height, Qt::KeepAspectRatio, Qt::SmoothTransformation));
            picture->setAlignment(Qt::AlignCenter);
            if (c.cursor == form::kHandCursor) picture->setCursor(Qt::PointingHandCursor);
            if (auto h = form_.Handler(c.id, form::kEventMousePressed))
                picture->pressed = [this, h](int32_t button, int32_t x, int32_t y) { CallPressed(h, button, x, y); };
            return picture;
        }
        default: return new QWidget;
        }
    }

    std::string programName_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QObject> context_;
    std::thread::id gui_;
    QMainWindow *main_ = nullptr;
    std::map<uint32_t, QWidget *> widgets_;
    PlacementRequest request_;
    Placement placement_;
    std::mutex postMutex_;
};

} // namespace

QtFrontEnd::~QtFrontEnd() = default;

FrontEndResult<QtFrontEnd> QtFrontEnd::Create(FrontEndOptions options) {
    return MakeFormFrontEnd<QtFrontEnd, QtWindow>(std::move(options));
}

} // namespace rt
