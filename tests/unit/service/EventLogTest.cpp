// What Wine can show of the Windows event log: the executable's message table has a text for
// every event id, and the Application log takes every event through the service's source.
#include "service/KelvoraSiTefService.h"
#include "service/SystemEvents.h"

#include "platform/SystemLog.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace kelvora::service {
namespace {

// The text the event viewer shows for id, with detail as the insertion string, or "" when the
// message table has none.
std::wstring ViewerText(HMODULE messageFile, uint32_t id, const std::wstring& detail) {
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(detail.c_str())};
  wchar_t text[1024];
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messageFile, id,
                       0, text, static_cast<DWORD>(std::size(text)),
                       reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
  return std::wstring(text, length);
}

TEST(EventLog, TheServiceExecutablesMessageTableHasATextForEveryEventId) {
  const std::wstring exe = platform::win32::Widen(SERVICE_EXE);
  // As the event viewer loads a message file: as data, never running its code.
  HMODULE messageFile = ::LoadLibraryExW(exe.c_str(), nullptr,
                                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(messageFile, nullptr);
  for (const TSystemEventType& type : SystemEventTypes()) {
    const std::wstring text =
        ViewerText(messageFile, static_cast<uint32_t>(type.Id), L"Pagamento aprovado (credit)");
    EXPECT_NE(text.find(L"Pagamento aprovado (credit)"), std::wstring::npos)
        << type.Name << ": " << platform::win32::Narrow(text);
    EXPECT_GT(text.find(L"Pagamento aprovado (credit)"), 0u) << type.Name;
  }
  EXPECT_EQ(ViewerText(messageFile, 100, L"x").substr(0, 42),
            L"O serviço Kelvora TEF Server foi iniciado.");
  ::FreeLibrary(messageFile);
}

TEST(EventLog, TheApplicationLogTakesEveryEventThroughTheServicesSource) {
  const auto log = platform::OpenSystemLog(TKelvoraSiTefService::kTitle);
  ASSERT_NE(log, nullptr);
  for (const TSystemEventType& type : SystemEventTypes()) {
    const std::string text = "teste de " + std::string(type.Name);
    EXPECT_TRUE(log->Write({static_cast<uint32_t>(type.Id), type.Name, type.Severity, text, {}}))
        << type.Name;
  }
}

}  // namespace
}  // namespace kelvora::service
