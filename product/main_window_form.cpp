// The main window: 600 x 800, the target inputs, the probe settings, the notice, the start button,
// the result list, the emblem and the About menu.
#include "main_window_form.h"

#include "formats/text/text.h"

namespace product {

using namespace form;
using namespace unit_id;

namespace {
// The maker's web address shown in the caption is the one the image opens (app/constants.table).
const char kMakerAddress[] = "https://toviq.example/";

// A binding of an event to the routine with that symbol.
Event Bind(int32_t number, const char *symbol) { return Event{number, 0, symbol}; }
} // namespace

Form MainWindow(std::vector<uint8_t> smallIcon, std::vector<uint8_t> largeIcon) {
    Form f;
    f.windowId = Id_MainWindow;
    auto unit = [&](uint32_t id, uint32_t type, const char *name, int32_t l, int32_t t, int32_t w, int32_t h,
                    uint32_t parent, const char *caption = "") {
        Control u;
        u.id = id;
        u.type = type;
        u.name = rt::Utf8ToGbk(name);
        u.left = l;
        u.top = t;
        u.width = w;
        u.height = h;
        u.parent = parent;
        u.caption = rt::Utf8ToGbk(caption);
        return u;
    };
    f.window = unit(Id_WindowUnit, kWindow, "", 50, 50, 600, 800, 0);
    f.window.caption = rt::Utf8ToGbk(std::string("Toviq-路由追踪 ") + kMakerAddress);
    f.window.icon = std::move(smallIcon);
    f.window.events = {Bind(kEventCreated, "RtWindowHandler")};

    // In the stored order.
    f.controls.push_back(unit(Id_Label7, kLabel, "标签7", 435, 50, 130, 24, Id_GroupBox2, "留空或数值＞128将归32"));
    f.controls.push_back(unit(Id_Label6, kLabel, "标签6", 435, 20, 130, 24, Id_GroupBox2, "留空或数值＞32将归0"));
    Control picture = unit(Id_Picture, kPicture, "图片框1", 535, 690, 50, 50, 0);
    picture.cursor = kHandCursor;
    picture.icon = std::move(largeIcon);
    picture.events = {Bind(kEventMousePressed, "PicturePressed")};
    f.controls.push_back(picture);
    f.controls.push_back(unit(Id_Label5, kLabel, "标签5", 10, 280, 400, 24, 0,
                              "本程序同目录下[qqwry.dat]文件为纯真IP库,请自行更新纯真IP库!"));
    Control clear = unit(Id_ClearButton, kButton, "按钮2", 400, 20, 100, 32, Id_GroupBox1, "清除历史记录");
    clear.events = {Bind(kEventClicked, "ClearClicked")};
    f.controls.push_back(clear);
    Control size = unit(Id_PacketSizeBox, kEditBox, "编辑框3", 130, 50, 300, 24, Id_GroupBox2);
    size.inputSetting = 7;
    f.controls.push_back(size);
    Control count = unit(Id_PacketCountBox, kEditBox, "编辑框2", 130, 20, 300, 24, Id_GroupBox2);
    count.inputSetting = 7;
    f.controls.push_back(count);
    Control list = unit(Id_ResultList, kListView, "超级列表框1", 7, 325, 580, 350, 0);
    for (auto [width, caption] : {std::pair{45u, "序号"}, {110u, "经过IP地址"}, {340u, "位置"}, {70u, "响应时间"}})
        list.columns.push_back({width, rt::Utf8ToGbk(caption)});
    f.controls.push_back(list);
    Control start = unit(Id_StartButton, kButton, "按钮1", 485, 280, 100, 32, 0, "开始追踪");
    start.events = {Bind(kEventClicked, "StartClicked")};
    f.controls.push_back(start);
    f.controls.push_back(unit(Id_CheckBox, kCheckBox, "选择框1", 120, 85, 152, 24, Id_GroupBox2, "使用主机IP地址"));
    Control group2 = unit(Id_GroupBox2, kGroupBox, "分组框2", 7, 150, 580, 120, 0, "目标");
    group2.children = {Id_Label7, Id_Label6, Id_PacketSizeBox, Id_PacketCountBox, Id_CheckBox, Id_Label4, Id_Label3};
    f.controls.push_back(group2);
    f.controls.push_back(unit(Id_Label4, kLabel, "标签4", 10, 50, 100, 24, Id_GroupBox2, "每包字符数"));
    f.controls.push_back(unit(Id_Label3, kLabel, "标签3", 10, 20, 100, 24, Id_GroupBox2, "数据包数量"));
    f.controls.push_back(unit(Id_AddressBox, kEditBox, "编辑框1", 80, 50, 300, 24, Id_GroupBox1));
    f.controls.push_back(unit(Id_TargetBox, kComboBox, "组合框1", 80, 20, 300, 24, Id_GroupBox1));
    f.controls.push_back(unit(Id_Label2, kLabel, "标签2", 10, 50, 50, 24, Id_GroupBox1, "IP地址"));
    f.controls.push_back(unit(Id_Label1, kLabel, "标签1", 10, 20, 50, 24, Id_GroupBox1, "目标网址"));
    Control group1 = unit(Id_GroupBox1, kGroupBox, "分组框1", 7, 10, 580, 120, 0, "目标");
    group1.children = {Id_ClearButton, Id_AddressBox, Id_TargetBox, Id_Label2, Id_Label1};
    f.controls.push_back(group1);

    auto item = [](uint32_t id, uint32_t level, const char *caption, const char *symbol) {
        return MenuItem{id, level, rt::Utf8ToGbk(caption), kNoHandler, symbol};
    };
    f.menu = {
        item(kMenuAbout, 0, "关于", ""),
        item(kMenuAboutItem, 1, "关于Toviq", "AboutSelected"),
        item(kMenuSeparator, 1, "-", ""),
        item(kMenuExit, 1, "退出", "ExitSelected"),
    };
    return f;
}

} // namespace product
