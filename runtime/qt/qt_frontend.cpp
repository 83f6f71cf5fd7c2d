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
#include <QTreeWidget>
#include <QUrl>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "../form.h"

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

class QtWindow final : public QtFrontEnd {
  public:
    QtWindow(QtFrontEndOptions options, form::Form form) : options_(std::move(options)), form_(std::move(form)) {
        static int argc = 1;
        static char name[] = "routetrace";
        static char *argv[] = {name, nullptr};
        if (!qApp) app_ = std::make_unique<QApplication>(argc, argv);
        // The layout's pixel geometry was designed for a 9-point interface font at 96 dpi: 12 pixels.
        QFont font = QApplication::font();
        font.setPixelSize(12);
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
    void SetMessagePresenter(MessagePresenter p) override { presenter_ = std::move(p); }
    void SetUrlOpener(std::function<void(const std::string &)> o) override { opener_ = std::move(o); }

    void ShowMessage(std::string_view text, int32_t, std::optional<std::string_view> title) override {
        std::string t(text);
        std::optional<std::string> ti;
        if (title) ti = std::string(*title);
        OnGui([&] {
            QString caption = ti ? FromGbk(*ti) : (main_ ? main_->windowTitle() : QStringLiteral("routetrace"));
            if (presenter_) {
                presenter_(GbkToUtf8(t), caption.toStdString());
                return;
            }
            QMessageBox box(QMessageBox::NoIcon, caption, FromGbk(t), QMessageBox::Ok, main_);
            box.exec();
        });
    }

    void Pump() override { QCoreApplication::processEvents(QEventLoop::AllEvents, 20); }

    int32_t ListRowCount(uint32_t unit) override {
        return OnGui([&] {
            auto *list = qobject_cast<QTreeWidget *>(control(unit));
            return list ? int32_t(list->topLevelItemCount()) : 0;
        });
    }
    std::string ListCellText(uint32_t unit, int32_t row, int32_t column) override {
        return OnGui([&] {
            auto *list = qobject_cast<QTreeWidget *>(control(unit));
            if (!list || row < 0 || row >= list->topLevelItemCount()) return std::string();
            return list->topLevelItem(row)->text(column).toStdString();
        });
    }

    void ProcessEvents() override {
        // Only the window's own thread may run its events; for the trace thread this does nothing.
        if (OnGuiThread()) QCoreApplication::processEvents();
    }

    uint64_t GetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t) override {
        (void)window;
        return OnGui([&]() -> uint64_t {
            QWidget *w = control(unit);
            if (!w) return property == RtPropertyDisabled ? 0 : ResultOfText({}).value;
            switch (property) {
            case RtPropertyDisabled: return w->isEnabled() ? 0 : 1;
            case RtPropertyEditText: {
                auto *edit = qobject_cast<QLineEdit *>(w);
                return ResultOfText(edit ? ToGbk(edit->text()) : std::string()).value;
            }
            case RtPropertyComboText: {
                auto *combo = qobject_cast<QComboBox *>(w);
                return ResultOfText(combo ? ToGbk(combo->currentText()) : std::string()).value;
            }
            default: return 0;
            }
        });
    }

    void SetProperty(uint32_t window, uint32_t unit, int32_t property, int32_t, uint64_t value) override {
        (void)window;
        std::string text;
        if (property == RtPropertyEditText || property == RtPropertyComboText) {
            const char *p = reinterpret_cast<const char *>(static_cast<uintptr_t>(value));
            text = p ? p : "";
        }
        OnGui([&] {
            QWidget *w = control(unit);
            if (!w) return;
            if (property == RtPropertyDisabled) w->setEnabled(value == 0);
            else if (auto *edit = qobject_cast<QLineEdit *>(w); edit && property == RtPropertyEditText)
                edit->setText(FromGbk(text));
            else if (auto *combo = qobject_cast<QComboBox *>(w); combo && property == RtPropertyComboText)
                combo->setEditText(FromGbk(text));
        });
    }

    void ShowWindow(uint32_t window) override {
        OnGui([&] {
            if (window != form_.windowId || main_) return;
            Build();
            // The window's created event: the history is loaded before the user sees the window.
            if (auto h = form_.Handler(form_.window.id, 0)) Call(*h);
            main_->show();
            // The designed rectangle is the outer one, frame and caption included.
            QSize frame = main_->frameGeometry().size() - main_->size();
            main_->resize(form_.window.width - frame.width(), form_.window.height - frame.height());
        });
    }

    void RunEvents() override {
        if (main_) QApplication::exec();
    }

    void RequestQuit() override {
        QMetaObject::invokeMethod(context_.get(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    }

    int32_t ListAppendRow(uint32_t, uint32_t unit) override {
        return OnGui([&]() -> int32_t {
            auto *list = qobject_cast<QTreeWidget *>(control(unit));
            if (!list) return -1;
            list->addTopLevelItem(new QTreeWidgetItem(list));
            return list->topLevelItemCount() - 1;
        });
    }
    void ListClear(uint32_t, uint32_t unit) override {
        OnGui([&] {
            if (auto *list = qobject_cast<QTreeWidget *>(control(unit))) list->clear();
        });
    }
    bool ListSetCell(uint32_t, uint32_t unit, int32_t row, int32_t column, std::string_view text) override {
        std::string t(text);
        return OnGui([&] {
            auto *list = qobject_cast<QTreeWidget *>(control(unit));
            if (!list || row < 0 || row >= list->topLevelItemCount() || column < 0 || column >= list->columnCount())
                return false;
            list->topLevelItem(row)->setText(column, FromGbk(t));
            return true;
        });
    }
    int32_t ComboCount(uint32_t, uint32_t unit) override {
        return OnGui([&] {
            auto *combo = qobject_cast<QComboBox *>(control(unit));
            return combo ? int32_t(combo->count()) : 0;
        });
    }
    std::optional<std::string> ComboItem(uint32_t, uint32_t unit, int32_t index) override {
        return OnGui([&]() -> std::optional<std::string> {
            auto *combo = qobject_cast<QComboBox *>(control(unit));
            if (!combo || index < 0 || index >= combo->count()) return std::nullopt;
            return ToGbk(combo->itemText(index));
        });
    }
    void ComboAppend(uint32_t, uint32_t unit, std::string_view text) override {
        std::string t(text);
        OnGui([&] {
            auto *combo = qobject_cast<QComboBox *>(control(unit));
            if (!combo) return;
            // Qt would select the first item added to an empty list; the edit field keeps its text.
            QString kept = combo->currentText();
            combo->addItem(FromGbk(t));
            combo->setCurrentIndex(-1);
            combo->setEditText(kept);
        });
    }
    void ComboClear(uint32_t, uint32_t unit) override {
        OnGui([&] {
            auto *combo = qobject_cast<QComboBox *>(control(unit));
            if (!combo) return;
            QString kept = combo->currentText(); // emptying the list keeps the edit field's text
            combo->clear();
            combo->setEditText(kept);
        });
    }
    void OpenUrl(std::string_view url) override {
        std::string u = GbkToUtf8(url);
        OnGui([&] {
            if (opener_) opener_(u);
            else QDesktopServices::openUrl(QUrl(QString::fromStdString(u)));
        });
    }

  private:
    bool OnGuiThread() const { return std::this_thread::get_id() == gui_; }

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

    void Call(uint32_t handler) {
        if (void *routine = options_.routineAt(handler)) reinterpret_cast<void (*)()>(routine)();
    }

    void Build() {
        main_ = new QMainWindow;
        main_->setWindowTitle(FromGbk(form_.window.caption));
        QPixmap icon = IconPixmap(form_.window.icon);
        if (!icon.isNull()) main_->setWindowIcon(QIcon(icon));
        main_->move(form_.window.left, form_.window.top);
        auto *client = new QWidget(main_);
        main_->setCentralWidget(client);

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
    }

    QWidget *Make(const form::Control &c) {
        QString caption = FromGbk(c.caption);
        switch (c.type) {
        case form::kGroupBox: return new QGroupBox(caption);
        case form::kLabel: return new QLabel(caption);
        case form::kCheckBox: return new QCheckBox(caption);
        case form::kEditBox: return new QLineEdit;
        case form::kComboBox: {
            auto *combo = new QComboBox;
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert); // the program itself records what is traced
            return combo;
        }
        case form::kButton: {
            auto *button = new QPushButton(caption);
            if (auto h = form_.Handler(c.id, 0)) {
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
            if (auto h = form_.Handler(c.id, -1)) {
                uint32_t handler = *h;
                picture->pressed = [this, handler](int32_t button, int32_t x, int32_t y) {
                    if (void *routine = options_.routineAt(handler))
                        reinterpret_cast<void (*)(int32_t, int32_t, int32_t)>(routine)(button, x, y);
                };
            }
            return picture;
        }
        default: return new QWidget;
        }
    }

    QtFrontEndOptions options_;
    form::Form form_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QObject> context_;
    std::thread::id gui_;
    QMainWindow *main_ = nullptr;
    std::map<uint32_t, QWidget *> widgets_;
    MessagePresenter presenter_;
    std::function<void(const std::string &)> opener_;
};

} // namespace

QtFrontEnd::~QtFrontEnd() = default;

std::unique_ptr<QtFrontEnd> QtFrontEnd::Create(QtFrontEndOptions options, std::string &error) {
    auto decoded = form::DecodeWindowForm(options.form, options.codeSize, error);
    if (!decoded) return nullptr;
    return std::make_unique<QtWindow>(std::move(options), std::move(*decoded));
}

} // namespace rt
