// The comparison program for the terminal's start-up (bench/terminal_startup.sh): a plain ncurses
// program that draws the main window's first full screen at 80 x 24 directly (the same menu bar,
// boxes, labels, fields, buttons and list header, at the same places), without launcher, payload,
// image or form segment, then waits for a key.
#include <clocale>

#include <curses.h>

namespace {

void Frame(int row, int col, int width, int height, const char *title) {
    mvhline_set(row, col + 1, WACS_HLINE, width - 2);
    mvhline_set(row + height - 1, col + 1, WACS_HLINE, width - 2);
    mvvline_set(row + 1, col, WACS_VLINE, height - 2);
    mvvline_set(row + 1, col + width - 1, WACS_VLINE, height - 2);
    mvadd_wch(row, col, WACS_ULCORNER);
    mvadd_wch(row, col + width - 1, WACS_URCORNER);
    mvadd_wch(row + height - 1, col, WACS_LLCORNER);
    mvadd_wch(row + height - 1, col + width - 1, WACS_LRCORNER);
    attron(A_BOLD);
    mvaddstr(row, col + 2, title);
    attroff(A_BOLD);
}

void Put(int row, int col, const char *text, attr_t attr = A_NORMAL) {
    attron(attr);
    mvaddstr(row, col, text);
    attroff(attr);
}

void Field(int row, int col, int width) { mvhline(row, col, ' ' | A_UNDERLINE, width); }

} // namespace

int main() {
    std::setlocale(LC_ALL, "");
    initscr();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    mvhline(0, 0, ' ' | A_REVERSE, COLS);
    Put(0, 1, " 关于 ", A_REVERSE);
    Put(0, 42, "Toviq-路由追踪 https://toviq.example/", A_REVERSE);
    Frame(1, 1, 77, 4, " 目标 ");
    Put(2, 2, "目标网址");
    Field(2, 12, 39);
    Put(2, 51, "▾", A_REVERSE);
    Put(2, 54, "[清除历史记录]", A_BOLD);
    Put(3, 2, "IP地址");
    Field(3, 12, 40);
    Frame(5, 1, 77, 5, " 目标 ");
    Put(6, 2, "数据包数量");
    Field(6, 18, 40);
    Put(6, 59, "留空或数值＞32将归");
    Put(7, 2, "每包字符数");
    Field(7, 18, 40);
    Put(7, 59, "留空或数值＞128将");
    Put(8, 17, "[ ] 使用主机IP地址");
    Put(10, 1, "本程序同目录下[qqwry.dat]文件为纯真IP库,请自行更新纯真IP库!");
    Put(10, 66, "[开始追踪]", A_BOLD);
    mvhline(11, 1, ' ' | A_REVERSE, 76);
    Put(11, 1, "序号", A_REVERSE);
    Put(11, 7, "经过IP地址", A_REVERSE);
    Put(11, 21, "位置", A_REVERSE);
    Put(11, 67, "响应时间", A_REVERSE);
    Put(23, 71, "(Toviq)", A_UNDERLINE);
    move(2, 12);
    refresh();
    getch();
    endwin();
    return 0;
}
