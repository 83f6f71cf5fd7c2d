// A Qt platform plugin of a user's own ("rtprobe"), as QT_QPA_PLATFORM_PLUGIN_PATH or QT_PLUGIN_PATH
// names it: its code runs inside the program when Qt loads it. It writes what it finds there to the
// file named by RT_PROBE_REPORT: how many raw sockets the process holds, and its capability sets.
// (It is no working platform: Qt then gives up, which is all the better.)
#include <unistd.h>

#include <QtCore/QObject>
#include <QtCore/QtPlugin>

#include <cstdlib>
#include <fstream>
#include <string>

#include "raw_sockets.h"

namespace {

std::string StatusField(const std::string &key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":\t", 0) == 0) return line.substr(key.size() + 2);
    return "?";
}

__attribute__((constructor)) void Probe() {
    const char *report = std::getenv("RT_PROBE_REPORT");
    if (!report) return;
    int count = rt::testing::RawSockets("/proc/self");
    std::ofstream(report) << "raw=" << count << " CapEff=" << StatusField("CapEff")
                          << " CapPrm=" << StatusField("CapPrm") << " CapAmb=" << StatusField("CapAmb") << "\n";
}

} // namespace

class RtProbePlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE "qpa_probe.json")
};

#include "qpa_probe.moc"
