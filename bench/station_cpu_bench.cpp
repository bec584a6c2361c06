// The real program against simulated Sylvac duplex gauges, and in the same run
// the pyserial poller of this folder against the same kind of gauges, with the
// same waits: what a record, a reading and an idle second cost each of them.
// Every figure comes from outside the process (its CPU clock, /proc), so it
// includes painting, the event loop, the export and every thread.
//
// Not a Google Benchmark: each figure needs whole processes running for
// seconds. Options: --seconds=S per measurement (default 8, or
// KARVELO_BENCH_SECONDS), --startups=N (default 5).

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "bench_folder.h"
#include "support/sim_process.h"
#include "support/xvfb.h"

#ifdef KARVELO_BENCH_XDAMAGE
// Last: the X11 headers define macros (None, Bool, Status).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using karvelo::bench::BenchFolder;
using karvelo::testing::SimProcess;

// The protocol of type 1 (Sylvac duplex) as the device-type table has it: a
// 200 ms closing wait after each request and, while a slot reads "autom.", a
// 200 ms settle time per cycle. The poller waits the same.
constexpr double kClosingWaitMs = 200.0;
constexpr double kSettleMs = 200.0;
// The one-slot station records on its send timer at this period; the poller's
// pause after each round is as long, so both wait 400 ms per record.
constexpr double kTimerPeriodMs = 200.0;

// --- Numbers, whatever the locale ------------------------------------------

std::string Fixed(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

std::optional<double> ParseDouble(std::string_view s) {
    double v = 0.0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc()) return std::nullopt;
    return v;
}

double MsSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::size_t CountLines(const std::string& path) {
    const std::string text = ReadFile(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// --- What /proc and the CPU clock say about a process ------------------------

// CPU time of the whole process (all threads, ended ones included), ns resolution.
double ProcessCpuMs(pid_t pid) {
    clockid_t id;
    timespec ts{};
    if (clock_getcpuclockid(pid, &id) != 0 || clock_gettime(id, &ts) != 0) return -1.0;
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// utime + stime of /proc/<pid>/stat: the same time in clock ticks (10 ms here),
// kept as a cross-check of the clock above.
double StatCpuMs(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name, which may hold blanks: state is field 3.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1.0;
    std::vector<std::string_view> fields;
    std::string_view rest(stat);
    rest.remove_prefix(close + 2);
    while (!rest.empty()) {
        const std::size_t blank = rest.find(' ');
        fields.push_back(rest.substr(0, blank));
        if (blank == std::string_view::npos) break;
        rest.remove_prefix(blank + 1);
    }
    if (fields.size() < 13) return -1.0;
    long long utime = 0, stime = 0;
    std::from_chars(fields[11].data(), fields[11].data() + fields[11].size(), utime);  // field 14
    std::from_chars(fields[12].data(), fields[12].data() + fields[12].size(), stime);  // field 15
    return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// VmHWM, the peak resident set, in MB.
double PeakRssMb(pid_t pid) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmHWM:");
    if (at == std::string::npos) return -1.0;
    std::size_t p = at + 6;
    while (p < status.size() && (status[p] == ' ' || status[p] == '\t')) ++p;
    long kb = 0;
    std::from_chars(status.data() + p, status.data() + status.size(), kb);
    return static_cast<double>(kb) / 1024.0;
}

// --- Child processes -----------------------------------------------------------

// Starts argv[0] in `folder` with its output in files there and `env` added.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& folder,
            const std::vector<std::string>& env, const std::string& outName) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string out = folder + "/" + outName + ".out";
    const std::string err = folder + "/" + outName + ".err";
    std::vector<std::string> envCopy = env;
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(126);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(126);
        dup2(o, 1);
        dup2(e, 2);
        for (std::string& v : envCopy) putenv(v.data());
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto end = Clock::now() + 10s;
    while (Clock::now() < end) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return;
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A private X server with a black root, for the figures that need a real
// window.
struct XServer : karvelo::testing::Xvfb {
    XServer() : Xvfb(true) {}
};

// --- The bench: gauges, station, poller ---------------------------------------

struct Gauges {
    explicit Gauges(const std::string& folder, int count) {
        std::string scenario;
        for (int g = 1; g <= count; ++g) {
            const std::string name = "g" + std::to_string(g);
            links.push_back(folder + "/tty" + name);
            scenario += "[" + name + "]\nlink=" + links.back() + "\ntype=1\nvalues=12.345 12.350\n";
        }
        sim.emplace(folder, scenario);
    }
    std::vector<std::string> links;
    std::optional<SimProcess> sim;
};

// Times (s, simulator clock) of the requests to g1, and the replies of all gauges.
struct SimEvents {
    std::vector<double> firstGaugeRequests;
    std::size_t replies = 0;
};

SimEvents ReadSimLog(const std::string& log) {
    SimEvents e;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string_view line(log.data() + start, end - start);
        start = end + 1;
        if (line.find(": reply ") != std::string_view::npos) ++e.replies;
        if (line.find("] g1: request ") == std::string_view::npos || line.size() < 2) continue;
        const std::size_t close = line.find(']');
        if (const auto t = ParseDouble(line.substr(1, close - 1)))
            e.firstGaugeRequests.push_back(*t);
    }
    return e;
}

enum class Program { Station, Poller };

std::string StationConfig(const std::string& folder, const std::vector<std::string>& links,
                          int sendMode, double sendTime, bool sendKey) {
    std::string cfg = "[PORTS]\r\n";
    for (std::size_t i = 0; i < links.size(); ++i)
        cfg += "COM" + std::to_string(3 + i) + "=" + links[i] + "\r\n";
    cfg += "[WINDOW]\r\nmaxno=" + std::to_string(links.size()) + "\r\n";
    cfg += "[EXPORT]\r\nexporttype=2\r\npath=" + folder + "/\r\nfile_csv=records.csv\r\n";
    if (sendKey) cfg += "[EXCEL]\r\nsendkey=1\r\n";  // F1, so that the key poll runs
    for (std::size_t i = 0; i < links.size(); ++i) {
        cfg += "[DEVICE" + std::to_string(i + 1) + "]\r\ntyp=1\r\nport=" + std::to_string(3 + i) +
               "\r\nsendmode=" + std::to_string(sendMode) + "\r\nsendtime=" + Fixed(sendTime, 3) +
               "\r\nformat=3\r\n";
    }
    return cfg;
}

struct Run {
    bool ok = false;
    std::string problem;
    double wallMs = 0, cpuMs = 0, statCpuMs = 0, serverCpuMs = 0;
    std::size_t records = 0, readings = 0, cycles = 0;
    double cycleMs = 0;        // mean period of g1's requests within the window
    double firstRecordMs = 0;  // exec to the first CSV line
    double peakRssMb = 0;
};

struct Setup {
    Program program = Program::Station;
    int gauges = 1;
    int sendMode = 0;
    double sendTime = 0;
    bool expectRecords = true;  // wait for a record before the window; else a fixed warm-up
    bool xServer = false;       // run under Xvfb instead of offscreen
    bool sendKey = false;       // F1 as the send key, so that the key poll asks the X server
};

// Polls `count` until it grows or `limit` passes; its new value, or nothing.
template <typename F>
std::optional<std::size_t> WaitForGrowth(F count, std::size_t from,
                                         std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        const std::size_t n = count();
        if (n > from) return n;
        std::this_thread::sleep_for(2ms);
    }
    return std::nullopt;
}

Run Measure(const Setup& s, double seconds) {
    Run run;
    BenchFolder folder;
    if (folder.path().empty()) {
        run.problem = "no folder";
        return run;
    }
    const std::string& dir = folder.path();
    Gauges gauges(dir, s.gauges);
    if (!gauges.sim->ready()) {
        run.problem = "simulator not ready: " + gauges.sim->Log();
        return run;
    }
    std::optional<XServer> x;
    std::vector<std::string> env;
    std::vector<std::string> argv;
    const std::string csv = dir + "/records.csv";
    if (s.program == Program::Station) {
        std::filesystem::copy_file(KARVELO_BINARY, dir + "/karvelo");
        std::ofstream(dir + "/karvelo.cfg", std::ios::binary)
            << StationConfig(dir, gauges.links, s.sendMode, s.sendTime, s.sendKey);
        argv = {dir + "/karvelo", "--batch"};
        if (s.xServer) {
            x.emplace();
            if (!x->available()) {
                run.problem = "Xvfb not available";
                return run;
            }
            env.push_back("DISPLAY=" + x->display());
        } else {
            argv.insert(argv.begin() + 1, {"-platform", "offscreen"});
        }
    } else {
        argv = {"/usr/bin/python3", KARVELO_POLLER, csv};
        argv.insert(argv.end(), gauges.links.begin(), gauges.links.end());
    }

    const auto records = [&] { return CountLines(csv); };
    const auto firstGaugeReplies = [&] {
        const std::string log = gauges.sim->Log();
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log.find("] g1: reply ", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };

    const auto t0 = Clock::now();
    const pid_t pid = Spawn(argv, dir, env, s.program == Program::Station ? "station" : "poller");
    const std::string errName =
        dir + (s.program == Program::Station ? "/station.err" : "/poller.err");
    if (s.expectRecords) {
        if (!WaitForGrowth(records, 0, 20s)) {
            run.problem = "no record within 20 s: " + ReadFile(errName);
            Stop(pid);
            return run;
        }
        run.firstRecordMs = MsSince(t0);
    } else {
        std::this_thread::sleep_for(2s);
    }

    // The window starts and ends right after a new request of g1 was answered,
    // so that it holds whole cycles.
    std::size_t from = firstGaugeReplies();
    if (s.expectRecords || s.sendMode == 0) {
        const auto next = WaitForGrowth(firstGaugeReplies, from, 10s);
        if (!next) {
            run.problem = "no reply within 10 s: " + ReadFile(errName);
            Stop(pid);
            return run;
        }
        from = *next;
    }
    const auto w0 = Clock::now();
    const double cpu0 = ProcessCpuMs(pid), stat0 = StatCpuMs(pid);
    const double server0 = x ? ProcessCpuMs(x->pid()) : 0.0;
    const std::size_t records0 = records();
    const std::size_t replies0 = ReadSimLog(gauges.sim->Log()).replies;

    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    std::size_t to = firstGaugeReplies();
    if (s.expectRecords || s.sendMode == 0) {
        if (const auto next = WaitForGrowth(firstGaugeReplies, to, 10s)) to = *next;
    }
    run.wallMs = MsSince(w0);
    run.cpuMs = ProcessCpuMs(pid) - cpu0;
    run.statCpuMs = StatCpuMs(pid) - stat0;
    if (x) run.serverCpuMs = ProcessCpuMs(x->pid()) - server0;
    run.records = records() - records0;
    const SimEvents events = ReadSimLog(gauges.sim->Log());
    run.readings = events.replies - replies0;
    run.peakRssMb = PeakRssMb(pid);
    Stop(pid);

    // Requests are logged before their replies: request i of g1 got reply i.
    const auto& req = events.firstGaugeRequests;
    if (to > from && to <= req.size()) {
        run.cycles = to - from;
        run.cycleMs = (req[to - 1] - req[from - 1]) * 1000.0 / static_cast<double>(run.cycles);
    }
    run.ok = true;
    return run;
}

// A run that failed (a private X server that went away, a busy machine) is
// run once more; the first failure is printed.
Run MeasureWithRetry(const Setup& s, double seconds) {
    Run r = Measure(s, seconds);
    if (r.ok) return r;
    const std::size_t lineEnd = r.problem.find('\n');
    std::printf("  retried a run that failed: %s\n", r.problem.substr(0, lineEnd).c_str());
    return Measure(s, seconds);
}

// --- Start-up to the first paint, on a private X server ----------------------

struct Startup {
    bool ok = false;
    std::string problem;
    double mappedMs = 0, paintedMs = 0;
};

#ifdef KARVELO_BENCH_XDAMAGE
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

// The window shows more than its background: something was drawn into it.
bool HasContent(Display* d, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return false;
    XImage* img = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                            static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (img == nullptr) return false;
    const unsigned long first = XGetPixel(img, 0, 0);
    bool differs = false;
    // Every fourth row and column is enough to see text or a frame.
    for (int y = 0; y < img->height && !differs; y += 4) {
        for (int x = 0; x < img->width && !differs; x += 4) differs = XGetPixel(img, x, y) != first;
    }
    // KARVELO_BENCH_SNAPSHOT=<file.ppm> keeps the picture that counted as the first paint.
    const char* snapshot = std::getenv("KARVELO_BENCH_SNAPSHOT");
    if (differs && snapshot != nullptr && *snapshot != '\0') {
        std::ofstream out(snapshot, std::ios::binary);
        out << "P6\n" << img->width << ' ' << img->height << "\n255\n";
        for (int y = 0; y < img->height; ++y) {
            for (int x = 0; x < img->width; ++x) {
                const unsigned long px = XGetPixel(img, x, y);
                out.put(static_cast<char>((px >> 16) & 0xff));
                out.put(static_cast<char>((px >> 8) & 0xff));
                out.put(static_cast<char>(px & 0xff));
            }
        }
    }
    XDestroyImage(img);
    return differs;
}

// Exec to the station's top-level window mapped, and to the first drawing in
// it that leaves more than a plain background (damage on the root window
// reports every drawing on the screen).
Startup MeasureStartup() {
    Startup r;
    XServer x;
    if (!x.available()) {
        r.problem = "Xvfb not available";
        return r;
    }
    BenchFolder folder;
    const std::string& dir = folder.path();
    Gauges gauges(dir, 1);
    if (!gauges.sim->ready()) {
        r.problem = "simulator not ready";
        return r;
    }
    std::filesystem::copy_file(KARVELO_BINARY, dir + "/karvelo");
    std::ofstream(dir + "/karvelo.cfg", std::ios::binary)
        << StationConfig(dir, gauges.links, 3, kTimerPeriodMs / 1000.0, false);

    XSetErrorHandler(&IgnoreXError);
    Display* d = XOpenDisplay(x.display().c_str());
    int damageEvent = 0, damageError = 0;
    if (d == nullptr || !XDamageQueryExtension(d, &damageEvent, &damageError)) {
        r.problem = "no X connection or no DAMAGE extension";
        if (d != nullptr) XCloseDisplay(d);
        return r;
    }
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    const Damage damage = XDamageCreate(d, root, XDamageReportRawRectangles);
    XSync(d, False);

    const auto t0 = Clock::now();
    const pid_t pid =
        Spawn({dir + "/karvelo", "--batch"}, dir, {"DISPLAY=" + x.display()}, "station");
    Window window = 0;
    const auto end = t0 + 20s;
    while (Clock::now() < end && r.paintedMs == 0) {
        bool check = false;
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify && window == 0 && !e.xmap.override_redirect) {
                window = e.xmap.window;
                r.mappedMs = MsSince(t0);
                check = true;
            } else if (e.type == damageEvent + XDamageNotify && window != 0) {
                check = true;
            }
        }
        if (check && HasContent(d, window)) {
            r.paintedMs = MsSince(t0);
            break;
        }
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, 5);
    }
    Stop(pid);
    XDamageDestroy(d, damage);
    XCloseDisplay(d);
    r.ok = r.paintedMs > 0;
    if (!r.ok) r.problem = window == 0 ? "no window mapped" : "nothing drawn";
    return r;
}
#else
Startup MeasureStartup() {
    Startup r;
    r.problem = "built without Xdamage";
    return r;
}
#endif

// --- The table ---------------------------------------------------------------

std::string Cell(const Run& r, double value, int decimals, const char* unit) {
    if (!r.ok) return "failed";
    return Fixed(value, decimals) + unit;
}

std::string Ratio(const Run& a, double va, const Run& b, double vb) {
    if (!a.ok || !b.ok || vb <= 0.0) return "-";
    return Fixed(va / vb, 1);
}

void Row(const std::string& what, const std::string& station, const std::string& poller,
         const std::string& ratio) {
    std::printf("%-50s %16s %16s %9s\n", what.c_str(), station.c_str(), poller.c_str(),
                ratio.c_str());
}

double PerUnit(double cpu, std::size_t n) {
    return n > 0 ? cpu / static_cast<double>(n) : 0.0;
}

// Own time per cycle beyond the waits, in % of the waits.
double OwnPercent(const Run& r, double waitsMs) {
    return (r.cycleMs - waitsMs) / waitsMs * 100.0;
}

std::string Median(std::vector<double> v) {
    if (v.empty()) return "failed";
    std::sort(v.begin(), v.end());
    return Fixed(v[v.size() / 2], 0) + " ms";
}

std::string LoadAverage() {
    std::string l = ReadFile("/proc/loadavg");
    return l.substr(0, l.find(' ', l.find(' ', l.find(' ') + 1) + 1));
}

void Problem(const char* what, const Run& r) {
    if (!r.ok) std::printf("  %s: %s\n", what, r.problem.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 8.0;
    int startups = 5;
    if (const char* env = std::getenv("KARVELO_BENCH_SECONDS")) {
        if (const auto v = ParseDouble(env)) seconds = *v;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a.rfind("--seconds=", 0) == 0) {
            if (const auto v = ParseDouble(a.substr(10))) seconds = *v;
        } else if (a.rfind("--startups=", 0) == 0) {
            if (const auto v = ParseDouble(a.substr(11))) startups = static_cast<int>(*v);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds=S] [--startups=N]\n", argv[0]);
            return 2;
        }
    }
#ifndef KARVELO_BINARY
    std::printf("station_cpu_bench: skipped, the program was not built (KARVELO_BUILD_GUI=OFF)\n");
    return 0;
#else
    if (access("/usr/bin/python3", X_OK) != 0) std::printf("note: /usr/bin/python3 missing\n");
    std::printf(
        "Station against simulated Sylvac duplex gauges (pseudo-terminals), %s s per "
        "figure; load average before: %s\n",
        Fixed(seconds, 1).c_str(), LoadAverage().c_str());

    const double oneSlotTimer = kTimerPeriodMs / 1000.0;
    // One slot on a 200 ms send timer: every record is one request and one
    // reading. The poller: request, 200 ms, read, one CSV line, 200 ms.
    const Run station1 =
        MeasureWithRetry({Program::Station, 1, 3, oneSlotTimer, true, false}, seconds);
    const Run poller1 = MeasureWithRetry({Program::Poller, 1, 0, 0, true, false}, seconds);
    // One slot "autom.": a request, its reading and the settle time per cycle,
    // no record (nothing triggers one); the poller's round has the same waits.
    const Run station1a = MeasureWithRetry({Program::Station, 1, 0, 0, false, false}, seconds);
    // Ten slots "autom.": ten requests, ten reads and the settle time per cycle.
    const Run station10 = MeasureWithRetry({Program::Station, 10, 0, 0, false, false}, seconds);
    const Run poller10 = MeasureWithRetry({Program::Poller, 10, 0, 0, true, false}, seconds);
    // Ten F-Key slots on open gauges, nothing pressed.
    const Run idle = MeasureWithRetry({Program::Station, 10, 1, 0, false, false}, seconds);
    const Run idleX = MeasureWithRetry({Program::Station, 10, 1, 0, false, true, true}, seconds);
    // The same with a real window on an X server, whose own CPU is shown apart.
    const Run station1x =
        MeasureWithRetry({Program::Station, 1, 3, oneSlotTimer, true, true}, seconds);
    const Run station10x = MeasureWithRetry({Program::Station, 10, 0, 0, false, true}, seconds);
    std::vector<double> mapped, painted;
    std::string startupProblem;
    for (int i = 0; i < startups; ++i) {
        const Startup s = MeasureStartup();
        if (!s.ok) {
            startupProblem = s.problem;
            continue;
        }
        mapped.push_back(s.mappedMs);
        painted.push_back(s.paintedMs);
    }

    const double waits1 = kClosingWaitMs + kTimerPeriodMs;
    const double waits10 = 10 * kClosingWaitMs + kSettleMs;
    std::printf("\n");
    Row("", "station", "pyserial", "ratio");
    Row("CPU per record, 1 slot (timer 0.2 s)",
        Cell(station1, PerUnit(station1.cpuMs, station1.records), 2, " ms"),
        Cell(poller1, PerUnit(poller1.cpuMs, poller1.records), 2, " ms"),
        Ratio(station1, PerUnit(station1.cpuMs, station1.records), poller1,
              PerUnit(poller1.cpuMs, poller1.records)));
    Row("CPU per reading, 1 slot (autom., no record)",
        Cell(station1a, PerUnit(station1a.cpuMs, station1a.readings), 2, " ms"),
        Cell(poller1, PerUnit(poller1.cpuMs, poller1.readings), 2, " ms"),
        Ratio(station1a, PerUnit(station1a.cpuMs, station1a.readings), poller1,
              PerUnit(poller1.cpuMs, poller1.readings)));
    Row("CPU per reading, 10 slots (autom.)",
        Cell(station10, PerUnit(station10.cpuMs, station10.readings), 2, " ms"),
        Cell(poller10, PerUnit(poller10.cpuMs, poller10.readings), 2, " ms"),
        Ratio(station10, PerUnit(station10.cpuMs, station10.readings), poller10,
              PerUnit(poller10.cpuMs, poller10.readings)));
    Row("CPU per record, 1 slot (timer 0.2 s), Xvfb",
        Cell(station1x, PerUnit(station1x.cpuMs, station1x.records), 2, " ms"),
        Cell(poller1, PerUnit(poller1.cpuMs, poller1.records), 2, " ms"),
        Ratio(station1x, PerUnit(station1x.cpuMs, station1x.records), poller1,
              PerUnit(poller1.cpuMs, poller1.records)));
    Row("  ... and the X server meanwhile",
        Cell(station1x, PerUnit(station1x.serverCpuMs, station1x.records), 2, " ms"), "", "");
    Row("CPU per reading, 10 slots (autom.), Xvfb",
        Cell(station10x, PerUnit(station10x.cpuMs, station10x.readings), 2, " ms"),
        Cell(poller10, PerUnit(poller10.cpuMs, poller10.readings), 2, " ms"),
        Ratio(station10x, PerUnit(station10x.cpuMs, station10x.readings), poller10,
              PerUnit(poller10.cpuMs, poller10.readings)));
    Row("  ... and the X server meanwhile",
        Cell(station10x, PerUnit(station10x.serverCpuMs, station10x.readings), 2, " ms"), "", "");
    Row("Idle CPU, 10 F-Key slots, offscreen",
        Cell(idle, idle.cpuMs / idle.wallMs * 100.0, 2, " %"), "n/a", "-");
    Row("Idle CPU, 10 F-Key slots + F1 polled, Xvfb",
        Cell(idleX, idleX.cpuMs / idleX.wallMs * 100.0, 2, " %"), "n/a", "-");
    Row("  ... and the X server meanwhile",
        Cell(idleX, idleX.serverCpuMs / idleX.wallMs * 100.0, 2, " %"), "", "");
    Row("Cycle, 1 slot timer = record (waits " + Fixed(waits1, 0) + " ms)",
        Cell(station1, station1.cycleMs, 1, " ms"), Cell(poller1, poller1.cycleMs, 1, " ms"), "");
    Row("  own time beyond the waits", Cell(station1, OwnPercent(station1, waits1), 2, " %"),
        Cell(poller1, OwnPercent(poller1, waits1), 2, " %"),
        Ratio(station1, OwnPercent(station1, waits1), poller1, OwnPercent(poller1, waits1)));
    Row("Cycle, 1 slot autom. (waits " + Fixed(waits1, 0) + " ms)",
        Cell(station1a, station1a.cycleMs, 1, " ms"), Cell(poller1, poller1.cycleMs, 1, " ms"), "");
    Row("  own time beyond the waits", Cell(station1a, OwnPercent(station1a, waits1), 2, " %"),
        Cell(poller1, OwnPercent(poller1, waits1), 2, " %"),
        Ratio(station1a, OwnPercent(station1a, waits1), poller1, OwnPercent(poller1, waits1)));
    Row("Cycle, 10 slots (waits " + Fixed(waits10, 0) + " ms)",
        Cell(station10, station10.cycleMs, 1, " ms"), Cell(poller10, poller10.cycleMs, 1, " ms"),
        "");
    Row("  own time beyond the waits", Cell(station10, OwnPercent(station10, waits10), 2, " %"),
        Cell(poller10, OwnPercent(poller10, waits10), 2, " %"),
        Ratio(station10, OwnPercent(station10, waits10), poller10, OwnPercent(poller10, waits10)));
    Row("Exec to first record, 1 slot (incl. 200 ms wait)",
        Cell(station1, station1.firstRecordMs, 0, " ms"),
        Cell(poller1, poller1.firstRecordMs, 0, " ms"),
        Ratio(station1, station1.firstRecordMs, poller1, poller1.firstRecordMs));
    Row("Exec to window mapped, Xvfb (median of " + std::to_string(mapped.size()) + ")",
        Median(mapped), "n/a", "-");
    Row("Exec to first paint, Xvfb (median of " + std::to_string(painted.size()) + ")",
        Median(painted), "n/a", "-");
    Row("Peak RSS (VmHWM), 1 slot", Cell(station1, station1.peakRssMb, 1, " MB"),
        Cell(poller1, poller1.peakRssMb, 1, " MB"),
        Ratio(station1, station1.peakRssMb, poller1, poller1.peakRssMb));
    Row("Peak RSS (VmHWM), 10 slots", Cell(station10, station10.peakRssMb, 1, " MB"),
        Cell(poller10, poller10.peakRssMb, 1, " MB"),
        Ratio(station10, station10.peakRssMb, poller10, poller10.peakRssMb));

    std::printf(
        "\nCounts in the windows (CPU: the process CPU clock; /proc/<pid>/stat ticks beside):\n");
    const auto counts = [](const char* what, const Run& r) {
        if (!r.ok) return;
        std::printf(
            "  %-24s %6s s  cpu %8s ms (stat %8s ms)  records %4zu  readings %4zu  cycles %3zu\n",
            what, Fixed(r.wallMs / 1000.0, 2).c_str(), Fixed(r.cpuMs, 1).c_str(),
            Fixed(r.statCpuMs, 0).c_str(), r.records, r.readings, r.cycles);
    };
    counts("station, 1 slot", station1);
    counts("pyserial, 1 gauge", poller1);
    counts("station, 1 slot autom.", station1a);
    counts("station, 10 slots", station10);
    counts("pyserial, 10 gauges", poller10);
    counts("station idle", idle);
    counts("station idle, Xvfb", idleX);
    counts("station, 1 slot, Xvfb", station1x);
    counts("station, 10 slots, Xvfb", station10x);
    Problem("station, 1 slot", station1);
    Problem("pyserial, 1 gauge", poller1);
    Problem("station, 1 slot autom.", station1a);
    Problem("station, 10 slots", station10);
    Problem("pyserial, 10 gauges", poller10);
    Problem("station idle", idle);
    Problem("station idle, Xvfb", idleX);
    Problem("station, 1 slot, Xvfb", station1x);
    Problem("station, 10 slots, Xvfb", station10x);
    if (!startupProblem.empty()) std::printf("  start-up: %s\n", startupProblem.c_str());
    std::printf(
        "Waits are the type's: %s ms closing wait per request, %s ms settle per "
        "\"autom.\" cycle, the %s ms send timer (the\npoller: the same per request and round); the "
        "rest of a cycle (pacing sleeps, "
        "the export hand-over, CPU) is counted as own time.\n",
        Fixed(kClosingWaitMs, 0).c_str(), Fixed(kSettleMs, 0).c_str(),
        Fixed(kTimerPeriodMs, 0).c_str());
    std::printf("Load average after: %s\n", LoadAverage().c_str());
    return station1.ok && poller1.ok && station1a.ok && station10.ok && poller10.ok && idle.ok ? 0
                                                                                               : 1;
#endif
}
