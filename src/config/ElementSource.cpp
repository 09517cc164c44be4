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
  body->append(data, bytes);
  return bytes;
}

std::optional<std::string> Fetch(const std::string& url, std::string& error) {
  CURL* curl = curl_easy_init();
  if (!curl) {
    error = "cannot start an HTTP transfer";
    return std::nullopt;
  }
  std::string body;
  char message[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "halvik update-elements");
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
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
