// The main window: 600 x 800, the target inputs, the probe settings, the notice, the start button,
// the result list, the emblem and the About menu.
#include "form_model.h"

namespace form {

namespace {
constexpr uint32_t kGroup1 = 0x16010007, kGroup2 = 0x16010028;
// The maker's web address shown in the caption is the one the image opens (image/constants.S).
const char kMakerAddress[] = "https://toviq.example/";
} // namespace

Form MainWindow(const std::string &smallIcon, const std::string &largeIcon) {
    Form f;
    f.windowId = 0x52010001;
    auto unit = [&](uint32_t id, uint32_t type, const char *name, int32_t l, int32_t t, int32_t w, int32_t h,
                    uint32_t parent, const char *caption = "") {
        Unit u;
        u.id = id;
        u.type = type;
        u.name = name;
        u.left = l;
        u.top = t;
        u.width = w;
        u.height = h;
        u.parent = parent;
        u.caption = caption;
        return u;
    };
    Unit window = unit(0x06010000, kWindow, "", 50, 50, 600, 800, 0);
    window.caption = std::string("Toviq-路由追踪 ") + kMakerAddress;
    window.iconFile = smallIcon;
    window.events = {{kEventCreated, "RtWindowHandler"}};
    f.units.push_back(window);

    // In the stored order.
    f.units.push_back(unit(0x1601014d, kLabel, "标签7", 435, 50, 130, 24, kGroup2, "留空或数值＞128将归32"));
    f.units.push_back(unit(0x1601014c, kLabel, "标签6", 435, 20, 130, 24, kGroup2, "留空或数值＞32将归0"));
    Unit picture = unit(0x16010147, kPicture, "图片框1", 535, 690, 50, 50, 0);
    picture.cursor = kHandCursor;
    picture.iconFile = largeIcon;
    picture.events = {{kEventMousePressed, "PicturePressed"}};
    f.units.push_back(picture);
    f.units.push_back(unit(0x16010145, kLabel, "标签5", 10, 280, 400, 24, 0,
                           "本程序同目录下[qqwry.dat]文件为纯真IP库,请自行更新纯真IP库!"));
    Unit clear = unit(0x1601013b, kButton, "按钮2", 400, 20, 100, 32, kGroup1, "清除历史记录");
    clear.events = {{kEventClicked, "ClearClicked"}};
    f.units.push_back(clear);
    Unit size = unit(0x160100e0, kEditBox, "编辑框3", 130, 50, 300, 24, kGroup2);
    size.inputSetting = 7;
    f.units.push_back(size);
    Unit count = unit(0x160100df, kEditBox, "编辑框2", 130, 20, 300, 24, kGroup2);
    count.inputSetting = 7;
    f.units.push_back(count);
    Unit list = unit(0x1601002f, kListView, "超级列表框1", 7, 325, 580, 350, 0);
    list.columns = {{45, "序号"}, {110, "经过IP地址"}, {340, "位置"}, {70, "响应时间"}};
    f.units.push_back(list);
    Unit start = unit(0x1601002e, kButton, "按钮1", 485, 280, 100, 32, 0, "开始追踪");
    start.events = {{kEventClicked, "StartClicked"}};
    f.units.push_back(start);
    f.units.push_back(unit(0x1601002d, kCheckBox, "选择框1", 120, 85, 152, 24, kGroup2, "使用主机IP地址"));
    Unit group2 = unit(kGroup2, kGroupBox, "分组框2", 7, 150, 580, 120, 0, "目标");
    group2.children = {0x1601014d, 0x1601014c, 0x160100e0, 0x160100df, 0x1601002d, 0x1601002b, 0x1601002c};
    f.units.push_back(group2);
    f.units.push_back(unit(0x1601002b, kLabel, "标签4", 10, 50, 100, 24, kGroup2, "每包字符数"));
    f.units.push_back(unit(0x1601002c, kLabel, "标签3", 10, 20, 100, 24, kGroup2, "数据包数量"));
    f.units.push_back(unit(0x16010010, kEditBox, "编辑框1", 80, 50, 300, 24, kGroup1));
    f.units.push_back(unit(0x1601000f, kComboBox, "组合框1", 80, 20, 300, 24, kGroup1));
    f.units.push_back(unit(0x1601000e, kLabel, "标签2", 10, 50, 50, 24, kGroup1, "IP地址"));
    f.units.push_back(unit(0x16010008, kLabel, "标签1", 10, 20, 50, 24, kGroup1, "目标网址"));
    Unit group1 = unit(kGroup1, kGroupBox, "分组框1", 7, 10, 580, 120, 0, "目标");
    group1.children = {0x1601013b, 0x16010010, 0x1601000f, 0x1601000e, 0x16010008};
    f.units.push_back(group1);

    f.menu = {
        {0x26010003, 0, "关于", ""},
        {0x26010004, 1, "关于Toviq", "AboutSelected"},
        {0x26010005, 1, "-", ""},
        {0x26010006, 1, "退出", "ExitSelected"},
    };
    return f;
}

} // namespace form
