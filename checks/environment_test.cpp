// The three refusing checks over scripted views of the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/fake_views.h"

namespace mw {
namespace {

// ---- operating-system gate

bool gatePasses(uint8_t minimumOs, uint32_t major, uint32_t minor, uint32_t platform = 2) {
  return osGate(minimumOs, OsVersion{major, minor, platform}).pass;
}

TEST(OsGate, MinimumsAgainstTheReleasesAroundThem) {
  // Windows XP required: XP, XP x64 and everything later pass, 2000 does not.
  EXPECT_TRUE(gatePasses(7, 5, 1));
  EXPECT_TRUE(gatePasses(7, 5, 2));
  EXPECT_TRUE(gatePasses(7, 6, 0));
  EXPECT_TRUE(gatePasses(7, 10, 0));
  EXPECT_FALSE(gatePasses(7, 5, 0));
  // Windows 7 required.
  EXPECT_FALSE(gatePasses(4, 6, 0));
  for (uint32_t minor : {1u, 2u, 3u}) EXPECT_TRUE(gatePasses(4, 6, minor)) << minor;
  EXPECT_TRUE(gatePasses(4, 10, 0));
  // 8.1 required; 1 lets only systems newer than the table through.
  EXPECT_TRUE(gatePasses(2, 6, 3));
  EXPECT_FALSE(gatePasses(2, 6, 2));
  for (uint32_t minor : {0u, 1u, 2u, 3u, 4u}) EXPECT_FALSE(gatePasses(1, 6, minor)) << minor;
  EXPECT_TRUE(gatePasses(1, 7, 0));
  EXPECT_TRUE(gatePasses(1, 10, 0));
  // NT 4.0 (code 12) and Windows 95 (code 11) differ only by platform.
  EXPECT_FALSE(gatePasses(11, 4, 0, 2));
  EXPECT_TRUE(gatePasses(11, 4, 0, 1));
  EXPECT_EQ(releaseCode(4, 90, 1), 9);
  EXPECT_EQ(releaseCode(4, 10, 1), 10);
  EXPECT_EQ(releaseCode(3, 51, 2), 13);
}

TEST(OsGate, NoRequirementAndUnrecognisedSystems) {
  EXPECT_TRUE(gatePasses(0, 3, 0));
  EXPECT_TRUE(gatePasses(0, 5, 0));
  // A failed query (all zero) is code 255, which passes as -1.
  EXPECT_EQ(releaseCode(0, 0, 0), kReleaseUnrecognised);
  for (int minimum = 1; minimum <= 127; ++minimum) EXPECT_TRUE(gatePasses(uint8_t(minimum), 0, 0, 0));
  // The top bit set in the major version makes it negative, not newer than the table.
  EXPECT_EQ(releaseCode(0x80000007u, 0, 2), kReleaseUnrecognised);
  EXPECT_EQ(releaseCode(0xFFFFFFFFu, 51, 2), 13);
}

TEST(OsGate, RequirementsBeyondTheTableUseSignedBytes) {
  EXPECT_TRUE(gatePasses(14, 3, 51));    // accepts even NT 3.51
  EXPECT_FALSE(gatePasses(128, 6, 3));   // -128 refuses every release with a code
  EXPECT_FALSE(gatePasses(255, 6, 3));
  EXPECT_TRUE(gatePasses(255, 10, 0));   // newer than the table always passes
}

TEST(OsGate, RefusalMessage) {
  const CheckOutcome refused = osGate(4, OsVersion{5, 1, 2});
  ASSERT_FALSE(refused.pass);
  EXPECT_STREQ(refused.caption, "Error");
  EXPECT_STREQ(refused.text,
               "This program does not support your operating system.\r\n"
               "Please refer to the system requirements in the program's documentation.");
  EXPECT_EQ(refused.style, 16u);
  EXPECT_FALSE(refused.openOnYes);
}

// ---- .NET Framework

FakeDotNet withRelease(uint32_t release) {
  FakeDotNet r;
  r.hasRelease = true;
  r.release = release;
  return r;
}

FakeDotNet withSubkeys(std::vector<std::string> names) {
  FakeDotNet r;
  r.hasNdp = true;
  r.subkeys = std::move(names);
  return r;
}

CheckOutcome check(uint8_t required, FakeDotNet registry, std::string* text = nullptr,
                   const char* installer = nullptr) {
  static char buffer[kTextBufferSize];
  CheckOutcome o = dotNetCheck(required, installer, registry, buffer, sizeof buffer);
  if (text) *text = o.text ? o.text : "";
  return o;
}

TEST(DotNet, ReleaseThresholds) {
  FakeDotNet newest = withRelease(528040);
  newest.hasNdp = true;
  newest.subkeys = {"v1.1"};
  EXPECT_EQ(installedDotNet(newest), kDotNetAllMet);
  EXPECT_EQ(newest.calls, 1) << "Release decides alone";
  for (int required : {1, 9, 99, 100, 127, 128, 255})
    EXPECT_TRUE(check(uint8_t(required), withRelease(528040)).pass) << required;
  EXPECT_TRUE(check(1, withRelease(460798)).pass);
  std::string text;
  EXPECT_FALSE(check(1, withRelease(460797), &text).pass);
  EXPECT_NE(text.find("version 4.7 and above"), std::string::npos) << text;
  EXPECT_TRUE(check(2, withRelease(393295)).pass);
  EXPECT_FALSE(check(2, withRelease(393294)).pass);
  EXPECT_TRUE(check(3, withRelease(378389)).pass);  // below every threshold: 4.5
  EXPECT_FALSE(check(2, withRelease(378389)).pass);
}

TEST(DotNet, SubkeyEnumeration) {
  FakeDotNet all = withSubkeys({"v2.0.50727", "v3.0", "v3.5", "v4.0", "v1.1.4322"});
  all.hasPolicy = true;
  EXPECT_EQ(installedDotNet(all), 4);
  EXPECT_EQ(all.maxIndexAsked, 3u) << "stops at v4.0";
  EXPECT_EQ(all.ndpCloses, 1);

  // The later match replaces an earlier one, newer or not.
  FakeDotNet two = withSubkeys({"v2.0.50727", "v3.5"});
  EXPECT_EQ(installedDotNet(two), 5);
  FakeDotNet reversed = withSubkeys({"v3.5", "v2.0.50727"});
  EXPECT_EQ(installedDotNet(reversed), 7);
  std::string text;
  EXPECT_TRUE(check(5, withSubkeys({"v2.0.50727", "v3.5"})).pass);
  EXPECT_FALSE(check(4, withSubkeys({"v2.0.50727", "v3.5"}), &text).pass);
  EXPECT_NE(text.find("version 4.0 and above"), std::string::npos);

  // Four characters, case-sensitive; "v4" alone is not 4.0, and unreadable names are skipped
  // without ending the walk.
  FakeDotNet odd = withSubkeys({"v4", "V3.5", "v3", "\x01", "CDF", "v1.1"});
  EXPECT_EQ(installedDotNet(odd), 8);
  EXPECT_EQ(odd.maxIndexAsked, 6u);
}

TEST(DotNet, ReleaseKeyWithoutValueFallsBackToSubkeys) {
  // A v4 full key whose Release cannot be read behaves as if it were missing.
  FakeDotNet r = withSubkeys({"v2.0.50727", "v3.0", "v3.5", "v4.0"});
  r.hasRelease = false;
  EXPECT_EQ(installedDotNet(r), 4);
}

TEST(DotNet, PolicyKeyAndNothingFound) {
  FakeDotNet policy;
  policy.hasPolicy = true;
  EXPECT_EQ(installedDotNet(policy), 9);
  EXPECT_TRUE(check(9, policy).pass);
  std::string text;
  EXPECT_FALSE(check(8, policy, &text).pass);
  EXPECT_NE(text.find("version 1.1 and above"), std::string::npos);

  // An NDP key with no known release still lets the Policy key count.
  FakeDotNet emptyNdp = withSubkeys({"CDF"});
  emptyNdp.hasPolicy = true;
  EXPECT_EQ(installedDotNet(emptyNdp), 9);

  FakeDotNet nothing;
  EXPECT_EQ(installedDotNet(nothing), kDotNetNone);
  for (int required = 1; required <= 99; ++required) {
    ASSERT_FALSE(check(uint8_t(required), nothing, &text).pass) << required;
    if (required >= 9) {
      EXPECT_NE(text.find("version 1.0 and above"), std::string::npos);
    }
  }
  EXPECT_TRUE(check(100, nothing).pass);
  EXPECT_TRUE(check(127, nothing).pass);
  EXPECT_FALSE(check(128, withSubkeys({"v4.0"})).pass);  // negative: only 4.8+ passes
}

TEST(DotNet, NothingReadWithoutRequirement) {
  FakeDotNet r;
  char buffer[64] = "untouched";
  EXPECT_TRUE(dotNetCheck(0, "x", r, buffer, sizeof buffer).pass);
  EXPECT_EQ(r.calls, 0);
  EXPECT_STREQ(buffer, "untouched");
}

TEST(DotNet, MessagesAndInstallerOffer) {
  const std::string base =
      "This installation requires the .NET Framework version 3.5 and above.\r\n"
      "Please install the .NET Framework and run this setup again.";
  std::string text;
  CheckOutcome ok = check(5, FakeDotNet(), &text, nullptr);
  EXPECT_EQ(text, base);
  EXPECT_EQ(ok.style, 16u);
  EXPECT_FALSE(ok.openOnYes);
  EXPECT_STREQ(ok.caption, "Error");

  CheckOutcome empty = check(5, FakeDotNet(), &text, "");
  EXPECT_EQ(empty.style, 16u);
  EXPECT_FALSE(empty.openOnYes);

  CheckOutcome offer = check(5, FakeDotNet(), &text, "http://example.invalid/dotnet");
  EXPECT_EQ(text, base + "\r\n\r\nWould you like to install it now?");
  EXPECT_EQ(offer.style, 20u);
  EXPECT_TRUE(offer.openOnYes);

  // The start-up's 260-byte buffer holds the question too; a tiny one cuts, never overruns, and
  // then does not ask a question it cannot show.
  char small[260];
  FakeDotNet none;
  CheckOutcome fits = dotNetCheck(5, "setup.exe", none, small, sizeof small);
  EXPECT_TRUE(fits.openOnYes);
  char tiny[40];
  tiny[39] = 'x';
  CheckOutcome cut = dotNetCheck(5, "setup.exe", none, tiny, 39);
  EXPECT_EQ(std::string(cut.text), base.substr(0, 38));
  EXPECT_EQ(tiny[39], 'x');
  EXPECT_FALSE(cut.openOnYes);
  EXPECT_EQ(cut.style, 16u);
}

// ---- administrator

TEST(Admin, WhoPassesAndWhoIsAsked) {
  char buffer[kTextBufferSize];
  FakeAccounts user(1);
  EXPECT_TRUE(adminCheck(0, 2, "Acme", user, buffer, sizeof buffer).pass);
  EXPECT_TRUE(adminCheck(1, 1, "Acme", user, buffer, sizeof buffer).pass);  // not NT
  EXPECT_TRUE(adminCheck(1, 0, "Acme", user, buffer, sizeof buffer).pass);  // failed query
  EXPECT_EQ(user.asked + user.membershipAsked, 0);

  FakeAccounts admin(2), noService(kPrivilegeNoService);
  EXPECT_TRUE(adminCheck(1, 2, "Acme", admin, buffer, sizeof buffer).pass);
  EXPECT_TRUE(adminCheck(1, 2, "Acme", noService, buffer, sizeof buffer).pass);
  EXPECT_EQ(admin.membershipAsked + noService.membershipAsked, 0);

  // The Administrators group in the token passes whatever the account database said.
  for (int32_t level : {0, 1, kPrivilegeLookupFailed}) {
    FakeAccounts groupAdmin(level, true);
    EXPECT_TRUE(adminCheck(1, 2, "Acme", groupAdmin, buffer, sizeof buffer).pass) << level;
    EXPECT_EQ(groupAdmin.membershipAsked, 1);
  }

  for (int32_t level : {0, 1, 3, kPrivilegeLookupFailed}) {
    FakeAccounts a(level);
    const CheckOutcome o = adminCheck(7, 2, "Acme Tool", a, buffer, sizeof buffer);
    ASSERT_FALSE(o.pass) << level;
    EXPECT_STREQ(o.caption, "Error");
    EXPECT_EQ(o.style, 16u);
    EXPECT_STREQ(o.text,
                 "You must be a user with administrative rights to install Acme Tool.\r\n"
                 "Please log in as an Administrator.");
  }
}

TEST(Admin, LongProductNameIsCutNotOverrun) {
  const std::string longName(3000, 'N');
  std::vector<char> buffer(kTextBufferSize + 16, '#');
  FakeAccounts user(1);
  const CheckOutcome o = adminCheck(1, 2, longName.c_str(), user, buffer.data(), kTextBufferSize);
  ASSERT_FALSE(o.pass);
  EXPECT_EQ(std::string(o.text).size(), kTextBufferSize - 1);
  for (size_t i = kTextBufferSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], '#');
}

}  // namespace
}  // namespace mw
