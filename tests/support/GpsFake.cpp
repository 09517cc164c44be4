#include "support/GpsFake.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/Text.h"

extern char** environ;

namespace halvik {
namespace {

// "$BODY*CS\r\n": the checksum is the exclusive or of the body's characters.
std::string Sentence(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  return Format("$%s*%02X\r\n", body.c_str(), sum);
}

// NMEA's ddmm.mmmm with its hemisphere letter.
std::string Angle(double degrees, int degreeDigits, char positive, char negative) {
  const double magnitude = std::fabs(degrees);
  const double whole = std::floor(magnitude);
  return Format("%0*d%07.4f,%c", degreeDigits, static_cast<int>(whole), (magnitude - whole) * 60,
                degrees < 0 ? negative : positive);
}

std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

std::string NmeaLog(const NmeaFix& fix) {
  const std::string latitude = Angle(fix.latitudeDeg, 2, 'N', 'S');
  const std::string longitude = Angle(fix.longitudeDeg, 3, 'E', 'W');
  std::string log;
  for (int i = 0; i < fix.reports; ++i) {
    const std::time_t t = static_cast<std::time_t>(fix.utcSeconds + i);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    const std::string time = Format("%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    const std::string date = Format("%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    log += Sentence(Format("GPGGA,%s,%s,%s,1,08,0.9,%.1f,M,47.0,M,,", time.c_str(),
                           latitude.c_str(), longitude.c_str(), fix.altitudeMetres));
    log += Sentence(Format("GPRMC,%s,A,%s,%s,0.0,0.0,%s,,,A", time.c_str(), latitude.c_str(),
                           longitude.c_str(), date.c_str()));
    log += Sentence("GPGSA,A,3,01,02,03,04,05,06,07,08,,,,,1.5,0.9,1.2");
  }
  return log;
}

GpsFake::GpsFake(const std::filesystem::path& directory, const std::string& log, std::uint16_t port)
    : port_(port != 0 ? port : FreeLoopbackPort()) {
  const std::filesystem::path logFile = directory / "fix.nmea";
  const std::string output = (directory / "gpsfake.out").string();
  if (FILE* f = std::fopen(logFile.c_str(), "wb")) {
    std::fwrite(log.data(), 1, log.size(), f);
    std::fclose(f);
  }
  // gpsd listens on the loopback interface unless told otherwise (-G), so the test touches no
  // other address.
  std::vector<std::string> args = {"gpsfake", "-q", "-P", std::to_string(port_), logFile.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Its own process group (numbered by its pid), which its gpsd joins: both go together.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "gpsfake", &files, &attributes, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
}

void GpsFake::Stop() {
  if (pid_ <= 0) return;
  // An interrupt lets gpsfake stop its gpsd itself; whatever of the group is left after a few
  // seconds is killed.
  ::kill(pid_, SIGINT);
  int status = 0;
  for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  std::error_code ignored;
  std::filesystem::remove(Format("/tmp/gpsfake-%d.sock", static_cast<int>(pid_)), ignored);
  pid_ = -1;
}

}  // namespace halvik
