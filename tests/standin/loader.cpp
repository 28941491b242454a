// The loader's entry point, as the program calls it: records the arguments and the
// options, and completes environment creation from the message loop.
#include <algorithm>
#include <cwchar>
#include <memory>

#include "objects.h"

namespace standin {
namespace {

using OptionsGetter = HRESULT (STDMETHODCALLTYPE ICoreWebView2EnvironmentOptions::*)(LPWSTR*);

json ReadOption(ICoreWebView2EnvironmentOptions* options, OptionsGetter getter) {
  LPWSTR value = nullptr;
  const HRESULT result = (options->*getter)(&value);
  json text = SUCCEEDED(result) ? Text(value) : Result(result);
  CoTaskMemFree(value);
  return text;
}

// What the runtime reads from the options object, and which later options versions the
// object answers for (the runtime asks for them).
json DescribeOptions(ICoreWebView2EnvironmentOptions* options) {
  if (options == nullptr) return nullptr;
  BOOL singleSignOn = FALSE;
  const HRESULT signOnResult = options->get_AllowSingleSignOnUsingOSPrimaryAccount(&singleSignOn);
  json interfaces = json::object();
  for (const IID& id : {__uuidof(IUnknown), __uuidof(ICoreWebView2EnvironmentOptions),
                        __uuidof(ICoreWebView2EnvironmentOptions2)}) {
    ComPtr<IUnknown> answer;
    const HRESULT result =
        options->QueryInterface(id, reinterpret_cast<void**>(answer.GetAddressOf()));
    interfaces[InterfaceNameOf(id)] = SUCCEEDED(result) && answer;
  }
  return {
      {"AdditionalBrowserArguments",
       ReadOption(options, &ICoreWebView2EnvironmentOptions::get_AdditionalBrowserArguments)},
      {"Language", ReadOption(options, &ICoreWebView2EnvironmentOptions::get_Language)},
      {"TargetCompatibleBrowserVersion",
       ReadOption(options, &ICoreWebView2EnvironmentOptions::get_TargetCompatibleBrowserVersion)},
      {"AllowSingleSignOnUsingOSPrimaryAccount",
       SUCCEEDED(signOnResult) ? json(singleSignOn != FALSE) : Result(signOnResult)},
      {"interfaces", interfaces}};
}

// The loader's own variables, as it reads them from the process environment when the
// environment is created (the stand-in's WEBVIEW2_STANDIN_* aside).
json LoaderVariables() {
  json seen = json::object();
  const std::unique_ptr<wchar_t, decltype(&FreeEnvironmentStringsW)> block(
      GetEnvironmentStringsW(), &FreeEnvironmentStringsW);
  for (const wchar_t* entry = block.get(); entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    const std::wstring text(entry);
    const std::size_t equals = text.find(L'=', 1);
    const std::wstring name = text.substr(0, equals);
    if (CompareStringOrdinal(name.c_str(), std::min<int>(9, name.size()), L"WEBVIEW2_", 9, TRUE) !=
            CSTR_EQUAL ||
        CompareStringOrdinal(name.c_str(), std::min<int>(17, name.size()), L"WEBVIEW2_STANDIN_", 17,
                             TRUE) == CSTR_EQUAL) {
      continue;
    }
    seen[Utf8(name)] = equals == std::wstring::npos ? "" : Utf8(text.substr(equals + 1));
  }
  return seen;
}

void CompleteEnvironment(ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> handler,
                         const std::wstring& userDataFolder) {
  ComPtr<Environment> environment;
  HRESULT result = PlannedFailure("environment-completion");
  if (SUCCEEDED(result) && Mode("fail-environment-completion")) {
    result = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  if (SUCCEEDED(result)) {
    CreateDirectoryW(userDataFolder.c_str(), nullptr);
    environment = Make<Environment>();
  }
  RecordCall("raise", "EnvironmentCompleted", json{{"result", Result(result)}});
  const HRESULT returned = handler->Invoke(result, environment.Get());
  RecordCall("raised", "EnvironmentCompleted", json{{"results", json::array({Result(returned)})}});
}

}  // namespace
}  // namespace standin

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder,
    ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
  using namespace standin;
  try {
    CreateControlWindow();
    RecordCall("CreateCoreWebView2EnvironmentWithOptions", Text(browserExecutableFolder),
               Text(userDataFolder), DescribeOptions(environmentOptions));
    RecordCall("loader-variables", LoaderVariables());
    if (environmentCreatedHandler == nullptr) return E_POINTER;
    Witness(environmentOptions, "environment options");
    Witness(environmentCreatedHandler, "CreateCoreWebView2Environment completed handler");
    // No usable runtime: the loader fails at once.
    if (Mode("fail-environment-call")) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> handler(
        environmentCreatedHandler);
    std::wstring folder = userDataFolder != nullptr ? userDataFolder : L"";
    auto complete = [handler, folder] { CompleteEnvironment(handler, folder); };
    if (Mode("hold-environment")) {
      Hold("environment", complete);
    } else {
      Post(complete);
    }
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}
