// The comparison program for start-up: a plain Qt program that creates the main window's widgets
// directly (same kinds, geometry and texts), without launcher, payload, image or form segment.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QFont font = QApplication::font();
    font.setPixelSize(12);
    QApplication::setFont(font);
    QMainWindow window;
    window.setWindowTitle(QString::fromUtf8("Plain-路由追踪"));
    auto *client = new QWidget;
    window.setCentralWidget(client);
    QMenu *menu = window.menuBar()->addMenu(QString::fromUtf8("关于"));
    menu->addAction(QString::fromUtf8("关于Toviq"));
    menu->addSeparator();
    menu->addAction(QString::fromUtf8("退出"));
    auto place = [](QWidget *w, QWidget *parent, int x, int y, int width, int height) {
        w->setParent(parent);
        w->setGeometry(x, y, width, height);
    };
    auto *g1 = new QGroupBox(QString::fromUtf8("目标"));
    auto *g2 = new QGroupBox(QString::fromUtf8("目标"));
    place(g1, client, 7, 10, 580, 120);
    place(g2, client, 7, 150, 580, 120);
    place(new QLabel(QString::fromUtf8("目标网址")), g1, 10, 20, 50, 24);
    auto *combo = new QComboBox;
    combo->setEditable(true);
    place(combo, g1, 80, 20, 300, 24);
    place(new QPushButton(QString::fromUtf8("清除历史记录")), g1, 400, 20, 100, 32);
    place(new QLabel(QString::fromUtf8("IP地址")), g1, 10, 50, 50, 24);
    place(new QLineEdit, g1, 80, 50, 300, 24);
    place(new QLabel(QString::fromUtf8("数据包数量")), g2, 10, 20, 100, 24);
    place(new QLineEdit, g2, 130, 20, 300, 24);
    place(new QLabel(QString::fromUtf8("留空或数值＞32将归0")), g2, 435, 20, 130, 24);
    place(new QLabel(QString::fromUtf8("每包字符数")), g2, 10, 50, 100, 24);
    place(new QLineEdit, g2, 130, 50, 300, 24);
    place(new QLabel(QString::fromUtf8("留空或数值＞128将归32")), g2, 435, 50, 130, 24);
    place(new QCheckBox(QString::fromUtf8("使用主机IP地址")), g2, 120, 85, 152, 24);
    place(new QLabel(QString::fromUtf8("本程序同目录下[qqwry.dat]文件为纯真IP库,请自行更新纯真IP库!")), client, 10, 280,
          400, 24);
    place(new QPushButton(QString::fromUtf8("开始追踪")), client, 485, 280, 100, 32);
    auto *list = new QTreeWidget;
    list->setHeaderLabels({QString::fromUtf8("序号"), QString::fromUtf8("经过IP地址"), QString::fromUtf8("位置"),
                           QString::fromUtf8("响应时间")});
    for (int i = 0, w[] = {45, 110, 340, 70}; i < 4; ++i) list->setColumnWidth(i, w[i]);
    place(list, client, 7, 325, 580, 350);
    auto *picture = new QLabel;
    QPixmap pixmap(128, 128);
    pixmap.fill(Qt::gray);
    picture->setPixmap(pixmap.scaled(50, 50));
    place(picture, client, 535, 690, 50, 50);
    window.move(50, 50);
    window.resize(600, 800);
    window.show();
    return QApplication::exec();
}
