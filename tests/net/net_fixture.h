// Shared pieces of the download tests: sparse files, and a test
// base that publishes files on a test server and cleans up after itself.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/servers/proxy_ini.h"
#include "support/servers/test_servers.h"
#include "support/test_signing.h"
#include "support/test_support.h"

// Creates (or extends) a file to size bytes without writing them (a sparse file).
void MakeSparseFile(const std::wstring& path, long long size);

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Publishes bytes on the server under name (removed again after the test).
  void Publish(TestServer server, const std::wstring& name, const std::string& bytes);
  // A name for this test's file: the test's own name and the extension.
  std::wstring NameFor(const wchar_t* extension = L".upd") const;

  TempFolder temp_;

 private:
  std::vector<std::pair<TestServer, std::wstring>> published_;
};
