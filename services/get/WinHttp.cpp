// HttpClient over WinHTTP (Windows): part of the system, so it adds nothing to the download,
// checks certificates against the system's store (a company CA a user trusts included) and
// uses the proxy the user has set (a named proxy, or automatic detection and configuration
// scripts, resolved for each address).
#include <windows.h>
#include <winhttp.h>

#include <cstdlib>
#include <memory>

#include "services/Limits.h"
#include "services/get/Http.h"
#include "services/text/Utf8.h"

namespace quillet::services {
namespace {

struct InternetCloser {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

// Strings WinHTTP hands out for the caller to free.
struct GlobalText {
  LPWSTR text = nullptr;
  ~GlobalText() {
    if (text) GlobalFree(text);
  }
};

std::wstring Wide(const std::string& utf8) {
  std::u16string text = Utf16FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const std::wstring& text) { return Utf8FromUtf16(std::u16string(text.begin(), text.end())); }

// The certificate, the address, the scheme: no retry mends them.
bool Transient(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_REDIRECT_FAILED: return false;
    default: return true;
  }
}

[[noreturn]] void Fail(const std::string& url, const char* step) {
  DWORD code = GetLastError();
  std::string what = url + ": " + step + " failed (WinHTTP error " + std::to_string(code) + ")";
  bool address = code == ERROR_WINHTTP_UNRECOGNIZED_SCHEME || code == ERROR_WINHTTP_INVALID_URL ||
                 code == ERROR_WINHTTP_REDIRECT_FAILED;
  if (!Transient(code) && !address) what += ": the server's certificate is not trusted";
  throw HttpError(what, Transient(code));
}

class WinHttpBody : public HttpBody {
 public:
  WinHttpBody(Internet connection, Internet request, std::string url)
      : connection_(std::move(connection)), request_(std::move(request)), url_(std::move(url)) {
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    head_.status = static_cast<int>(status);
    // As text: the number form is 32 bits, and crawl files may one day pass 4 GB.
    std::string length = Header(WINHTTP_QUERY_CONTENT_LENGTH), range = Header(WINHTTP_QUERY_CONTENT_RANGE);
    if (!length.empty()) head_.length = std::strtoll(length.c_str(), nullptr, 10);
    if (range.rfind("bytes ", 0) == 0) head_.rangeStart = std::strtoll(range.c_str() + 6, nullptr, 10);
    head_.retryAfter = Header(WINHTTP_QUERY_RETRY_AFTER);
    head_.etag = Header(WINHTTP_QUERY_ETAG);
    head_.lastModified = Header(WINHTTP_QUERY_LAST_MODIFIED);
  }

  const HttpHead& Head() const override { return head_; }

  std::size_t Read(char* out, std::size_t size) override {
    DWORD read = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, limits::kDownloadBuffer));
    if (!WinHttpReadData(request_.get(), out, want, &read)) Fail(url_, "reading");
    return read;
  }

 private:
  std::string Header(DWORD query) const {
    wchar_t text[512];
    DWORD size = sizeof text;
    if (!WinHttpQueryHeaders(request_.get(), query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX))
      return {};
    return Utf8(std::wstring(text, size / sizeof(wchar_t)));
  }

  Internet connection_;  // outlives the request made on it
  Internet request_;
  std::string url_;
  HttpHead head_;
};

class WinHttpClient : public HttpClient {
 public:
  explicit WinHttpClient(const std::string& userAgent) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG proxy{};
    bool configured = WinHttpGetIEProxyConfigForCurrentUser(&proxy) != FALSE;
    GlobalText server{proxy.lpszProxy}, bypass{proxy.lpszProxyBypass}, script{proxy.lpszAutoConfigUrl};
    std::wstring agent = Wide(userAgent);
    if (configured && server.text)
      session_.reset(WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, server.text,
                                 bypass.text ? bypass.text : WINHTTP_NO_PROXY_BYPASS, 0));
    else
      session_.reset(
          WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) Fail("WinHTTP", "opening a session");
    if (configured && !server.text && (proxy.fAutoDetect || script.text)) {
      autoProxy_.dwFlags =
          (proxy.fAutoDetect ? WINHTTP_AUTOPROXY_AUTO_DETECT : 0) | (script.text ? WINHTTP_AUTOPROXY_CONFIG_URL : 0);
      autoProxy_.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
      if (script.text) script_ = script.text;
      autoProxy_.fAutoLogonIfChallenged = TRUE;
    }
    const int connect = static_cast<int>(limits::kGetConnectTimeout.count());
    const int idle = static_cast<int>(limits::kGetIdleTimeout.count());
    WinHttpSetTimeouts(session_.get(), connect, connect, idle, idle);
  }

  std::unique_ptr<HttpBody> Send(const HttpRequest& request) override {
    std::wstring url = Wide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) Fail(request.url, "reading the address");
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    Internet connection(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) Fail(request.url, "connecting");
    Internet handle(WinHttpOpenRequest(connection.get(), request.head ? L"HEAD" : L"GET", path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!handle) Fail(request.url, "opening the request");
    UseAutomaticProxy(handle.get(), url);
    std::wstring headers;
    if (request.from > 0) {
      headers = L"Range: bytes=" + std::to_wstring(request.from) + L"-\r\n";
      if (!request.ifRange.empty()) headers += L"If-Range: " + Wide(request.ifRange) + L"\r\n";
    }
    if (!WinHttpSendRequest(handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
      Fail(request.url, "sending the request");
    if (!WinHttpReceiveResponse(handle.get(), nullptr)) Fail(request.url, "receiving the answer");
    return std::make_unique<WinHttpBody>(std::move(connection), std::move(handle), request.url);
  }

 private:
  // With automatic detection or a configuration script, the proxy is worked out per address.
  void UseAutomaticProxy(HINTERNET request, const std::wstring& url) {
    if (autoProxy_.dwFlags == 0) return;
    autoProxy_.lpszAutoConfigUrl = script_.empty() ? nullptr : script_.c_str();
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session_.get(), url.c_str(), &autoProxy_, &info)) return;  // none found: direct
    GlobalText server{info.lpszProxy}, bypass{info.lpszProxyBypass};
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
  }

  Internet session_;
  WINHTTP_AUTOPROXY_OPTIONS autoProxy_{};
  std::wstring script_;
};

}  // namespace

std::unique_ptr<HttpClient> MakeHttpClient(const std::string& userAgent) {
  return std::make_unique<WinHttpClient>(userAgent);
}

}  // namespace quillet::services
