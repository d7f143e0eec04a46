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

HttpFault FaultOf(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return HttpFault::kResolve;
    case ERROR_WINHTTP_CANNOT_CONNECT: return HttpFault::kConnect;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE: return HttpFault::kUntrusted;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR: return HttpFault::kSecure;
    case ERROR_WINHTTP_REDIRECT_FAILED: return HttpFault::kRedirect;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL: return HttpFault::kAddress;
    case ERROR_NOT_ENOUGH_MEMORY: return HttpFault::kOther;
    default: return HttpFault::kCut;
  }
}

// What the secure channel found wrong with the server's certificate: a secure connection that
// fails is a certificate not trusted only when one of these says so.
constexpr DWORD kCertificateFlags =
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED | WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID | WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID |
    WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE;

// Collects the flags of a secure failure into the DWORD the request's context points to.
void CALLBACK SecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && information)
    *reinterpret_cast<DWORD*>(context) |= *static_cast<DWORD*>(information);
}

// connected: whether the step comes after the connection was made, so that a time-out or a
// broken connection before it is a connection not made rather than a transfer cut.
// certificate: the flags of a secure failure, if any.
[[noreturn]] void Fail(const char* step, bool connected = true, DWORD certificate = 0) {
  const DWORD code = GetLastError();
  HttpFault fault = FaultOf(code);
  if (fault == HttpFault::kCut && !connected) fault = HttpFault::kConnect;
  if (certificate & kCertificateFlags) fault = HttpFault::kUntrusted;
  throw HttpError(std::string(step) + " failed (WinHTTP error " + std::to_string(code) + ")", fault);
}

class WinHttpBody : public HttpBody {
 public:
  WinHttpBody(Internet connection, Internet request)
      : connection_(std::move(connection)), request_(std::move(request)) {
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(request_.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    head_.status = static_cast<int>(status);
    // As text: the number form is 32 bits, and crawl files may one day pass 4 GB.
    head_.length = ParseContentLength(Header(WINHTTP_QUERY_CONTENT_LENGTH));
    ParseContentRange(Header(WINHTTP_QUERY_CONTENT_RANGE), &head_);
    head_.retryAfter = Header(WINHTTP_QUERY_RETRY_AFTER);
    head_.etag = Header(WINHTTP_QUERY_ETAG);
    head_.lastModified = Header(WINHTTP_QUERY_LAST_MODIFIED);
  }

  const HttpHead& Head() const override { return head_; }

  std::size_t Read(char* out, std::size_t size) override {
    DWORD read = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, limits::kDownloadBuffer));
    if (!WinHttpReadData(request_.get(), out, want, &read)) Fail("reading");
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
    if (!session_) Fail("opening a WinHTTP session");
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
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = parts.dwUserNameLength =
        parts.dwPasswordLength = static_cast<DWORD>(-1);
    if (url.empty() || !WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) Fail("reading the address");
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    Internet connection(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) Fail("connecting", false);
    Internet handle(WinHttpOpenRequest(connection.get(), request.head ? L"HEAD" : L"GET", path.c_str(), nullptr,
                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                       parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!handle) Fail("opening the request", false);
    UseAutomaticProxy(handle.get(), url);
    // A mirror's user name and password, as a browser sends those of an address.
    if (parts.dwUserNameLength > 0) {
      std::wstring user(parts.lpszUserName, parts.dwUserNameLength),
          password(parts.lpszPassword, parts.dwPasswordLength);
      WinHttpSetCredentials(handle.get(), WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                            password.c_str(), nullptr);
    }
    DWORD certificate = 0;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&certificate);
    WinHttpSetOption(handle.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(handle.get(), SecureFailure, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    std::wstring headers;
    if (request.from > 0) {
      headers = L"Range: bytes=" + std::to_wstring(request.from) + L"-\r\n";
      if (!request.ifRange.empty()) headers += L"If-Range: " + Wide(request.ifRange) + L"\r\n";
    }
    if (!WinHttpSendRequest(handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                            headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
      Fail("sending the request", false, certificate);
    if (!WinHttpReceiveResponse(handle.get(), nullptr)) Fail("receiving the answer", true, certificate);
    // The flags' DWORD goes with this call: the handshake is over.
    WinHttpSetStatusCallback(handle.get(), nullptr, 0, 0);
    return std::make_unique<WinHttpBody>(std::move(connection), std::move(handle));
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
