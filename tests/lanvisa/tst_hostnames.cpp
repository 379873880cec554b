// Host names on viOpen, against a name server of our own: a child process
// gets private user, mount and network namespaces, its /etc/resolv.conf
// points at a UDP socket on loopback that answers "scope*" names with the
// bench's address, says "no such name" for "nowhere*" and ignores the rest.
#include "visa.h"

#include "bench.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

namespace b = quarnel::bench;

namespace {

constexpr char kNameServer[] = "127.0.0.53";

bool writeFile(const std::string& path, const std::string& text)
{
    std::ofstream f(path);
    f << text;
    return bool(f.flush());
}

/// Private namespaces with loopback up and resolv.conf replaced.
std::string enterSandbox(const std::string& resolvConf)
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0)
        return "SKIP no private namespaces here";
    writeFile("/proc/self/setgroups", "deny");
    writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || !writeFile(resolvConf, std::string("nameserver ") + kNameServer + "\noptions timeout:5 attempts:2\n")
        || mount(resolvConf.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
        return "SKIP cannot replace resolv.conf";
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const bool up = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
    close(s);
    return up ? "" : "SKIP loopback stays down";
}

/// The name server: counts queries, answers as described at the top.
struct NameServer
{
    int fd = -1;
    in_addr scope{};
    std::atomic<int> queries{0};
    std::atomic<bool> stop{false};
    std::thread thread;

    bool start(const std::string& scopeAddress)
    {
        inet_pton(AF_INET, scopeAddress.c_str(), &scope);
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        inet_pton(AF_INET, kNameServer, &a.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return false;
        thread = std::thread([this] { run(); });
        return true;
    }
    ~NameServer()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        close(fd);
    }
    void run()
    {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            uint8_t q[512];
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            const ssize_t n = recvfrom(fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&peer), &len);
            if (n < 17)
                continue;
            ++queries;
            size_t end = 12;  // the question's name, then type and class
            while (end < size_t(n) && q[end] != 0)
                end += q[end] + 1;
            end += 5;
            const std::string first(reinterpret_cast<char*>(q) + 13, q[12]);
            const bool known = first.rfind("scope", 0) == 0;
            if (!known && first.rfind("nowhere", 0) != 0)
                continue;  // silence
            std::vector<uint8_t> r(q, q + std::min<size_t>(end, size_t(n)));
            r[2] = 0x81;
            r[3] = known ? 0x80 : 0x83;  // no error / no such name
            r[6] = 0, r[7] = known ? 1 : 0;
            r[8] = r[9] = r[10] = r[11] = 0;
            if (known) {
                const uint8_t answer[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
                r.insert(r.end(), answer, answer + sizeof answer);
                const uint8_t* ip = reinterpret_cast<const uint8_t*>(&scope.s_addr);
                r.insert(r.end(), ip, ip + 4);
            }
            sendto(fd, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&peer), len);
        }
    }
};

/// The checks, run inside the sandbox; returns "" or what failed.
std::string checkInSandbox(const std::string& resolvConf)
{
    const std::string sandbox = enterSandbox(resolvConf);
    if (!sandbox.empty())
        return sandbox;
    b::Options o;  // default addresses and the portmapper on 111: the namespace is ours
    b::Bench bench(o);
    NameServer dns;
    std::string error;
    if (!bench.start(&error) || !dns.start(o.scopeAddress))
        return "cannot start: " + error;
    ViSession rm = VI_NULL;
    viOpenDefaultRM(&rm);
    std::string failures;
    const auto openTakes = [&](const std::string& name, ViStatus expected, double maxMs) {
        const auto t0 = std::chrono::steady_clock::now();
        ViSession vi = VI_NULL;
        const ViStatus st = viOpen(rm, name.c_str(), VI_NO_LOCK, 1000, &vi);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        if (st != expected || ms > maxMs)
            failures += name + ": status " + std::to_string(st) + " after " + std::to_string(ms) + " ms; ";
        return vi;
    };
    for (const char* name : {"TCPIP::silent17::INSTR", "TCPIP::silent17::5025::SOCKET"})
        openTakes(name, VI_ERROR_TMO, 1500);
    for (const char* name : {"TCPIP::nowhere::INSTR", "TCPIP::nowhere::5025::SOCKET"})
        openTakes(name, VI_ERROR_RSRC_NFOUND, 1500);
    for (const char* name : {"TCPIP::scope17::INSTR", "TCPIP::scope17::5025::SOCKET"}) {
        const int before = dns.queries;
        const ViSession vi = openTakes(name, VI_SUCCESS, 1500);
        char idn[256] = {};
        if (viQueryf(vi, "*IDN?\n", "%255t", idn) != VI_SUCCESS)
            failures += std::string(name) + ": no identity; ";
        if (dns.queries - before != 1)
            failures += std::string(name) + ": " + std::to_string(dns.queries - before) + " lookups; ";
    }
    viClose(rm);
    return failures;
}

}  // namespace

TEST(HostNames, LookedUpOnceAndWithinTheOpenTimeOut)
{
    const std::string resolvConf = ::testing::TempDir() + "lanvisa_resolv_" + std::to_string(getpid());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        const std::string result = checkInSandbox(resolvConf);
        (void)!write(pipeFds[1], result.data(), result.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string result;
    char buf[512];
    ssize_t n;
    pollfd p{pipeFds[0], POLLIN, 0};
    while (poll(&p, 1, 30000) > 0 && (n = read(pipeFds[0], buf, sizeof buf)) > 0)
        result.append(buf, size_t(n));
    close(pipeFds[0]);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    unlink(resolvConf.c_str());
    if (result.rfind("SKIP", 0) == 0)
        GTEST_SKIP() << result;
    EXPECT_EQ(result, "");
}
