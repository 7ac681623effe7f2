// zorvane-cli against the host side, as an attacker would try it: device
// nodes (made with mknod in a scratch folder, never the machine's own /dev),
// FIFOs, endless files, numbers without bounds, standard output that cannot
// be written, and text that would mislead or drive the terminal. Every run
// has a watchdog: a command that waits for ever fails its test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_run.h"
#include "scoped_env.h"
#include "sim/port_directory.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::run_cli;

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_all(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A scratch folder with its own device nodes, beside a simulated QM-48 on COM3.
class HostSide : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ports.add(
            3, sim::DeviceConfig{.model = DeviceModel::QM48, .serial = "12345", .battery = {}}));
        char name[] = "/tmp/zorvane-host-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }

    // A character device like the machine's /dev/null (1,3), /dev/zero (1,5)
    // or /dev/full (1,7), in the scratch folder.
    fs::path node(const char* name, unsigned minor) {
        const fs::path path = dir / name;
        EXPECT_EQ(::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minor)), 0) << path;
        return path;
    }
    fs::path fifo(const char* name) {
        const fs::path path = dir / name;
        EXPECT_EQ(::mkfifo(path.c_str(), 0666), 0) << path;
        return path;
    }
    // The names of the folder's entries, temporary files included.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static bool is_char_device(const fs::path& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    }

    sim::PortDirectory ports;
    testing::ScopedEnv env{"ZORVANE_PORT_DIR", ports.path().c_str()};
    fs::path dir;
};

const CliRun kGuarded{.watchdog_s = 30};

TEST_F(HostSide, SaveRefusesNodesAndReplacesWhatALinkNamesKeepingItsMode) {
    for (const auto& [name, minor] : {std::pair{"null", 3u}, std::pair{"full", 7u}}) {
        const fs::path target = node(name, minor);
        const auto save = run_cli({"settings", "save", target.string()}, kGuarded);
        EXPECT_EQ(save.status, 2) << name;
        EXPECT_TRUE(contains(save.err, "a character device, not a regular file; nothing saved"))
            << save.err;
        EXPECT_TRUE(is_char_device(target)) << name << " was replaced";
    }

    // As /dev/stdout does: a link to the standard output, here the runner's pipe.
    fs::create_symlink("/proc/self/fd/1", dir / "stdout");
    const auto to_stdout = run_cli({"settings", "save", (dir / "stdout").string()}, kGuarded);
    EXPECT_EQ(to_stdout.status, 2);
    EXPECT_TRUE(contains(to_stdout.err, "stdout: a FIFO, not a regular file")) << to_stdout.err;

    const fs::path real = dir / "real.kxf";
    write_all(real, "old\n");
    ::chmod(real.c_str(), 0600);
    fs::create_symlink("real.kxf", dir / "link.kxf");
    const auto linked = run_cli({"settings", "save", (dir / "link.kxf").string()}, kGuarded);
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.kxf"));
    EXPECT_TRUE(contains(read_all(real), "model = QM-48"));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // The longest name the file system takes.
    const std::string longest(255 - 4, 'n');
    const auto long_name = run_cli({"settings", "save", (dir / (longest + ".kxf")).string()});
    EXPECT_EQ(long_name.status, 0) << long_name.err;
    EXPECT_TRUE(fs::exists(dir / (longest + ".kxf")));
    EXPECT_EQ(entries(), (std::vector<std::string>{"full", "link.kxf", longest + ".kxf", "null",
                                                   "real.kxf", "stdout"}))
        << "a temporary file stayed behind";
}

TEST_F(HostSide, EndlessInputIsRefusedWithoutReadingItAll) {
    const fs::path zero = node("zero", 5);
    // A regular file of NUL bytes with no line end, larger than any bound.
    const fs::path zeros = dir / "zeros";
    write_all(zeros, std::string(4 << 20, '\0'));
    CliRun bounded = kGuarded;
    bounded.memory_mib = 2048;

    const auto log_node = run_cli({"log", zero.string(), "--count", "1"}, bounded);
    EXPECT_EQ(log_node.status, 2);
    EXPECT_TRUE(contains(log_node.err, "zero: a character device, not a regular file"))
        << log_node.err;
    const auto log_file = run_cli({"log", zeros.string(), "--count", "1"}, bounded);
    EXPECT_EQ(log_file.status, 2);
    EXPECT_TRUE(
        contains(log_file.err, "not a recording of this tool (no line end in its first 64 KiB)"))
        << log_file.err;
    EXPECT_EQ(fs::file_size(zeros), 4u << 20);

    const auto diff = run_cli({"settings", "diff", zero.string()}, bounded);
    EXPECT_EQ(diff.status, 2);
    EXPECT_TRUE(contains(diff.err, "a character device")) << diff.err;

#ifdef ZORVANE_WITH_MONITOR
    for (const fs::path& password : {zero, zeros}) {
        const auto monitor = run_cli({"monitor", "--mqtt", "mqtt://127.0.0.1:1", "--username", "u",
                                      "--password-file", password.string()},
                                     bounded);
        EXPECT_EQ(monitor.status, 1) << password;
        EXPECT_TRUE(contains(monitor.err, "cannot read the password file")) << monitor.err;
    }
    const auto cafile = run_cli(
        {"monitor", "--mqtt", "mqtts://127.0.0.1:1", "--cafile", fifo("ca").string()}, bounded);
    EXPECT_EQ(cafile.status, 1);
    EXPECT_TRUE(contains(cafile.err, "ca: a FIFO, not a regular file")) << cafile.err;
#endif
}

TEST_F(HostSide, AFifoIsRefusedAtOnceEvenWithAReaderOnIt) {
    const fs::path pipe = fifo("pipe");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"settings", "diff", pipe.string()},
          {"settings", "load", pipe.string(), "--yes"}}) {
        const auto settings = run_cli(args, kGuarded);
        EXPECT_EQ(settings.status, 2) << args[1] << " did not return on its own";
        EXPECT_TRUE(contains(settings.err, "pipe: a FIFO, not a regular file; nothing was read"))
            << settings.err;
    }
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const auto log = run_cli({"log", pipe.string(), "--count", "1"}, kGuarded);
    EXPECT_EQ(log.status, 2) << "log did not return on its own";
    EXPECT_TRUE(contains(log.err, "pipe: a FIFO, not a regular file; nothing was written"))
        << log.err;
    ::close(reader);
}

TEST_F(HostSide, OnlyARecordingOfThisToolIsContinuedWhicheverItsLineEnds) {
    const fs::path notes = dir / "notes.txt";
    const std::string text = "\nmy notes, \x1b[31mred\n";
    write_all(notes, text);
    const auto refused = run_cli({"log", notes.string(), "--count", "1"}, kGuarded);
    EXPECT_EQ(refused.status, 2);
    EXPECT_TRUE(contains(refused.err, "not a recording of this tool (its first line is empty)"))
        << refused.err;
    EXPECT_EQ(read_all(notes), text);

    // Text from the file reaches the terminal escaped.
    write_all(notes, "my notes, \x1b[31mred\n");
    const auto quoted = run_cli({"log", notes.string(), "--count", "1"}, kGuarded);
    EXPECT_TRUE(contains(quoted.err, "its first line is 'my notes, \\x1b[31mred'")) << quoted.err;

    // A recording copied through Windows is the same recording, continued in
    // its own line ends.
    const fs::path lf = dir / "lf.csv";
    ASSERT_EQ(run_cli({"log", lf.string(), "--count", "1"}, kGuarded).status, 0);
    std::string crlf_text;
    for (const char c : read_all(lf))
        crlf_text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const fs::path crlf = dir / "crlf.csv";
    write_all(crlf, crlf_text);
    const auto continued = run_cli({"log", crlf.string(), "--count", "1"}, kGuarded);
    EXPECT_EQ(continued.status, 0) << continued.err;
    const std::string after = read_all(crlf);
    EXPECT_TRUE(after.starts_with(crlf_text));
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 3);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\r'), 3) << "a row without its CR";
}

TEST(HostSideNumbers, EveryNumberHasARangeCheckedBeforeAnythingStarts) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"log", "x.csv", "--interval", "1e16"},
         "--interval takes seconds from 1 to 86400, not '1e16'"},
        {{"log", "x.csv", "--interval", "1e10"}, "--interval takes seconds from 1 to 86400"},
        {{"log", "x.csv", "--interval", "0.2"}, "--interval takes seconds from 1 to 86400"},
        {{"log", "x.csv", "--interval", "nan"}, "--interval takes seconds from 1 to 86400"},
        {{"log", "x.csv", "--count", "0"}, "--count takes a whole number from 1 to 2147483647"},
        {{"poll", "--count", "abc"},
         "--count takes a whole number from 1 to 2147483647, not 'abc'"},
        {{"poll", "--count", "99999999999"}, "--count takes a whole number from 1 to 2147483647"},
        {{"log", "x.csv", "--count", "2", "--count", "3"}, "--count is given twice"},
        {{"poll", "--port", "COM1", "--port", "COM2"}, "--port is given twice"},
        {{"poll", "--port="}, "--port needs COMn or a device path"},
        {{"settings", "load", "x.kxf", "--yes", "--yes"}, "--yes is given twice"},
    };
    for (const Case& c : cases) {
        const auto run = run_cli(c.args, kGuarded);
        EXPECT_EQ(run.status, 2) << c.args.back();
        EXPECT_TRUE(contains(run.err, c.message)) << run.err;
        EXPECT_FALSE(contains(run.err, "no device")) << "the search ran for " << c.args.back();
    }
}

TEST_F(HostSide, OutputThatCannotBeWrittenFailsEveryCommand) {
    const fs::path full = node("full", 7);
    const fs::path good = dir / "good.kxf";
    ASSERT_EQ(run_cli({"settings", "save", good.string()}, kGuarded).status, 0);
    const int out = ::open(full.c_str(), O_WRONLY);
    ASSERT_GE(out, 0);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"poll"},
                                                 {"scan"},
                                                 {"ports"},
                                                 {"settings", "diff", good.string()}}) {
        CliRun run = kGuarded;
        run.stdout_fd = out;
        const auto outcome = run_cli(args, run);
        EXPECT_NE(outcome.status, 0) << args.front();
        EXPECT_NE(outcome.status, -1) << args.front() << " did not return on its own";
        EXPECT_TRUE(contains(outcome.err, "standard output could not be written")) << outcome.err;
    }
    ::close(out);

    // A reader that went away ends a long poll with a message, not a signal.
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);
    CliRun closed = kGuarded;
    closed.stdout_fd = pipe_ends[1];
    const auto poll = run_cli({"poll", "--count", "1000000"}, closed);
    ::close(pipe_ends[1]);
    EXPECT_EQ(poll.status, 1);
    EXPECT_TRUE(contains(poll.err, "standard output could not be written")) << poll.err;
}

TEST_F(HostSide, RefusalsQuoteTheFileWholeInLineOrder) {
    const fs::path file = dir / "bad.kxf";
    using namespace std::string_literals;
    write_all(file,
              "[device]\nformat = 2\nmodel = QM-48\n[settings]\ngarbage\n"
              "UbatLow = '2\0' and more\n\x1b]0;owned\x07 = 1\n"s);
    const auto diff = run_cli({"settings", "diff", file.string()}, kGuarded);
    EXPECT_EQ(diff.status, 2);
    const size_t format = diff.err.find("line 2: format '2'");
    const size_t syntax = diff.err.find("line 5: expected");
    const size_t value = diff.err.find("line 6: UbatLow = ''2\\x00' and more': not a number");
    const size_t name = diff.err.find("line 7: a QM device has no setting '\\x1b]0;owned\\x07'");
    EXPECT_NE(format, std::string::npos) << diff.err;
    EXPECT_NE(value, std::string::npos) << diff.err;
    EXPECT_NE(name, std::string::npos) << diff.err;
    EXPECT_TRUE(format < syntax && syntax < value && value < name) << diff.err;
    EXPECT_FALSE(contains(diff.err, "\x1b")) << "an escape sequence reached the terminal";

    const auto scan = run_cli({"scan", "--port", "COM03"}, kGuarded);
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out, "COM3\tQM-48. S/N: 12345\n");
}

}  // namespace
}  // namespace zorvane
