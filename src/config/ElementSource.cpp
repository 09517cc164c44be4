#include "config/ElementSource.h"

#include <curl/curl.h>

#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace halvik {
namespace {

// Element files are kilobytes; a source that sends more is not one.
constexpr std::size_t kMaxSourceBytes = 16u << 20;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kTransferTimeoutSeconds = 300;
// A mirror or two, and the move from http to https: a longer chain is a loop or a trap.
constexpr long kMaxRedirects = 5;

bool IsUrl(const std::string& source) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (source.size() > scheme.size() &&
        EqualsIgnoreCase(std::string_view(source).substr(0, scheme.size()), scheme)) {
      return true;
    }
  }
  return false;
}

extern "C" std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* out) {
  auto* body = static_cast<std::string*>(out);
  const std::size_t bytes = size * count;
  if (body->size() + bytes > kMaxSourceBytes) return 0;  // ends the transfer with an error
  // No exception may unwind through libcurl's C frames: one that would ends the transfer.
  try {
    body->append(data, bytes);
  } catch (...) {
    return 0;
  }
  return bytes;
}

// Sets every option of a transfer, or says which one libcurl refused (an old libcurl without
// the protocol limits, say: the transfer is not made without them).
bool SetOptions(CURL* curl, const std::string& url, char* message, std::string* body,
                std::string& error) {
  CURLcode code = CURLE_OK;
  const char* option = "";
  auto set = [&](const char* name, CURLoption what, auto value) {
    if (code != CURLE_OK) return;
    code = curl_easy_setopt(curl, what, value);
    option = name;
  };
  set("URL", CURLOPT_URL, url.c_str());
  set("PROTOCOLS_STR", CURLOPT_PROTOCOLS_STR, "http,https");
  set("REDIR_PROTOCOLS_STR", CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set("FOLLOWLOCATION", CURLOPT_FOLLOWLOCATION, 1L);
  set("MAXREDIRS", CURLOPT_MAXREDIRS, kMaxRedirects);
  set("FAILONERROR", CURLOPT_FAILONERROR, 1L);
  set("NOSIGNAL", CURLOPT_NOSIGNAL, 1L);
  set("CONNECTTIMEOUT", CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  set("TIMEOUT", CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  set("USERAGENT", CURLOPT_USERAGENT, "halvik update-elements");
  set("ERRORBUFFER", CURLOPT_ERRORBUFFER, message);
  set("WRITEFUNCTION", CURLOPT_WRITEFUNCTION, AppendBody);
  set("WRITEDATA", CURLOPT_WRITEDATA, static_cast<void*>(body));
  if (code == CURLE_OK) return true;
  error = url + ": option " + option + ": " + curl_easy_strerror(code);
  return false;
}

std::optional<std::string> Fetch(const std::string& url, std::string& error) {
  CURL* curl = curl_easy_init();
  if (!curl) {
    error = "cannot start an HTTP transfer";
    return std::nullopt;
  }
  std::string body;
  char message[CURL_ERROR_SIZE] = {};
  if (!SetOptions(curl, url, message, &body, error)) {
    curl_easy_cleanup(curl);
    return std::nullopt;
  }
  CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) {
    error = url + ": " + (message[0] ? message : curl_easy_strerror(code));
    return std::nullopt;
  }
  return body;
}

}  // namespace

std::optional<std::string> ReadElementSource(const std::string& source, std::string& error) {
  if (IsUrl(source)) return Fetch(source, error);
  std::ifstream in(source, std::ios::binary);
  if (!in.is_open()) {
    error = "cannot read " + source;
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace halvik
