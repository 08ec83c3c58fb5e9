#include "packager/project.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#ifdef MARLOWICK_HAVE_PNG
#include <png.h>
#endif

#include "packager/bitmap.h"
#include "packager/codepage.h"
#include "packager/file_selection.h"
#include "packager/test_support.h"

namespace mw::packager {
namespace {

using test::ScratchDir;

// Parses `toml` in a scratch folder holding a payload/ tree and pictures.
struct Fixture {
  ScratchDir dir;
  Diagnostics d;
  Fixture() {
    test::writeFile(dir / "payload/bin/tool.exe", "tool");
    test::writeFile(dir / "payload/bin/TOOL.dll", "dll");
    test::writeFile(dir / "payload/docs/readme.txt", "readme");
    test::writeFile(dir / "payload/docs/notes.bak", "bak");
    test::writeFile(dir / "payload/empty.txt", "");
    test::writeBytes(dir / "side.bmp", test::smallBmp(4, 6));
    test::writeFile(dir / "licence.txt", "First line\nSecond \xC5\x81\xC3\xB3""d\xC5\xBA line\r\nThird\n");
  }
  Project parse(const std::string& toml) { return parseProject(toml, "p.toml", dir.path(), d); }
  std::string messages() const {
    std::string s;
    for (auto& m : d.all()) s += render(m) + "\n";
    return s;
  }
  bool has(const std::string& text) const { return messages().find(text) != std::string::npos; }
};

const char* kMinimal = R"(
[product]
name = "Tool"
[destination]
kind = "program-files"
path = "Acme\\Tool"
[[files]]
source = "payload/bin/tool.exe"
)";

TEST(Project, EveryFieldFromReadableNames) {
  Fixture f;
  Project p = f.parse(R"(codepage = 1250
[product]
name = "Łódź Tool"
caption = "Setup"
[texts]
welcome = """
Hello
there"""
licence-file = "licence.txt"
finish = "Bye"
[destination]
kind = "appdata"
path = "Acme/Tool"
[requirements]
minimum-os = "windows-7"
dotnet = "4.5"
dotnet-installer = "http://x/dotnet.exe"
administrator = true
[appearance]
side-picture = "side.bmp"
side-text-colour = "#102030"
header-text-colour = "none"
[link]
text = "Site"
target = "http://example.invalid/"
[[files]]
source = "payload"
destination = "app"
exclude = ["**/*.bak"]
[start-menu]
group = "Acme/Tool"
[[shortcuts]]
place = "program-group"
target = "app/bin/tool.exe"
[[registry]]
root = "HKEY_LOCAL_MACHINE"
key = "Software\\Acme"
name = "Path"
type = "expand-string"
value = "<SetupPath>\\bin"
[[registry]]
root = "HKCR"
key = ".acme"
value = 7
[after-install]
restart = true
run = "http://example.invalid/thanks"
run-from = "url"
)");
  ASSERT_FALSE(f.d.failed()) << f.messages();
  const ScriptModel& s = p.script;
  EXPECT_EQ(p.codePage, 1250u);
  EXPECT_EQ(s.productName, "\xA3\xF3\x64\x9F Tool");  // Łódź in code page 1250
  EXPECT_EQ(s.windowCaption, "Setup");
  EXPECT_EQ(s.welcomeText, "Hello\r\nthere");  // first line break of """ trimmed, LF -> CR LF
  EXPECT_EQ(s.licenceText, "First line\r\nSecond \xA3\xF3\x64\x9F line\r\nThird\r\n");
  EXPECT_EQ(s.destinationKind, 7);
  EXPECT_EQ(s.destinationPath, "Acme\\Tool");
  EXPECT_EQ(s.minimumOs, 4);
  EXPECT_EQ(s.dotNetRequired, 3);
  EXPECT_EQ(s.dotNetInstaller, "http://x/dotnet.exe");
  EXPECT_EQ(s.requireAdmin, 1);
  EXPECT_EQ(s.sideTextColour, 0x00302010u);  // COLORREF keeps red low
  EXPECT_EQ(s.headerTextColour, 0xFFFFFFFFu);
  EXPECT_EQ(s.sideBitmap, test::smallBmp(4, 6));
  EXPECT_TRUE(s.splashBitmap.empty());
  ASSERT_EQ(s.files.size(), 4u);  // the .bak excluded, in byte order of the path
  EXPECT_EQ(s.files[0].name, "app\\bin\\TOOL.dll");
  EXPECT_EQ(s.files[1].name, "app\\bin\\tool.exe");
  EXPECT_EQ(s.files[2].name, "app\\docs\\readme.txt");
  EXPECT_EQ(s.files[3].name, "app\\empty.txt");
  EXPECT_EQ(p.sources[3].size, 0u);
  EXPECT_EQ(s.programGroup, "Acme\\Tool");
  ASSERT_EQ(s.shortcuts.size(), 1u);
  EXPECT_EQ(s.shortcuts[0].kind, 'P');
  EXPECT_EQ(s.shortcuts[0].target, "app\\bin\\tool.exe");
  ASSERT_EQ(s.registry.size(), 2u + 5u);  // then the uninstall registration's (Identity tests)
  EXPECT_EQ(s.registry[0].root, 0x80000002u);
  EXPECT_EQ(s.registry[0].typeByte, 2);
  EXPECT_EQ(s.registry[0].valueName, "Path");
  EXPECT_EQ(s.registry[1].root, 0x80000000u);
  EXPECT_EQ(s.registry[1].typeByte, -4);  // default value, DWORD from an integer
  EXPECT_FALSE(s.registry[1].valueName.has_value());
  EXPECT_EQ(s.registry[1].dword, 7u);
  EXPECT_EQ(s.rebootMode, 1);
  EXPECT_EQ(s.runKind, 5);
  EXPECT_EQ(s.finishText, "Bye");
}

TEST(Project, DefaultsOfAMinimalProject) {
  Fixture f;
  Project p = f.parse(kMinimal);
  ASSERT_FALSE(f.d.failed()) << f.messages();
  EXPECT_EQ(p.codePage, 1252u);
  EXPECT_EQ(p.script.windowCaption, "Tool Setup");
  EXPECT_EQ(p.script.files.at(0).name, "tool.exe");
  EXPECT_EQ(p.script.runKind, 0);
  EXPECT_EQ(p.script.dotNetRequired, 0);
  EXPECT_EQ(p.script.headerTextColour, 0u);
}

// The side text colour and the banner alignment live inside their pictures' blocks: without
// the picture they are warned about and dropped, so the script still reads back as written.
TEST(Project, PictureSettingsWithoutTheirPicture) {
  Fixture f;
  Project p = f.parse(std::string(kMinimal) +
                      "[appearance]\nside-text-colour = \"#102030\"\nbanner-alignment = \"right\"\n");
  ASSERT_FALSE(f.d.failed()) << f.messages();
  EXPECT_TRUE(f.has("'side-text-colour' without a 'side-picture'")) << f.messages();
  EXPECT_TRUE(f.has("'banner-alignment' without a 'banner'")) << f.messages();
  EXPECT_EQ(p.script.sideTextColour, 0u);
  EXPECT_EQ(p.script.bannerAlignment, 0);
}

TEST(Project, ErrorsPointAtTheCharacter) {
  Fixture f;
  f.parse(std::string(kMinimal) + "[texts]\nwelcome = \"a\\tb\u2603\"\nfinish = '''\nok\n  x\u20ACy \u2603'''\n");
  // welcome: the escape \t is one character; the snowman is the fourth, at column 16.
  EXPECT_TRUE(f.has("p.toml:10:16: error: welcome text: character U+2603 cannot be represented in code page 1252"))
      << f.messages();
  // The euro sign exists in 1252; the snowman on the second line of the literal does not.
  EXPECT_TRUE(f.has("p.toml:13:7: error: finish text: character U+2603")) << f.messages();

  Fixture g;
  test::writeFile(g.dir / "lic.txt", "ok\nbad \xE2\x98\x83 here\n");
  g.parse(std::string(kMinimal) + "[texts]\nlicence-file = \"lic.txt\"\n");
  EXPECT_TRUE(g.has("lic.txt:2:5: error: licence text: character U+2603")) << g.messages();

  Fixture h;
  h.parse("[product]\nname = \"x\"\nbogus = 1\n[destination\n");
  EXPECT_TRUE(h.has("p.toml:4:")) << h.messages();  // the syntax error, with its place
}

TEST(Project, Refusals) {
  struct Case {
    std::string toml;
    std::string expected;
  };
  std::string base = R"([product]
name = "Tool"
[destination]
kind = "program-files"
path = "Tool"
)";
  std::vector<Case> cases = {
      {base, "installs no files"},
      {base + "[[files]]\nsource = \"nope\"\n", "p.toml:7:10: error: source 'nope' does not exist"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"C:\\\\x.exe\"\n", "drive letter"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"\\\\x.exe\"\n", "is absolute"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"a/../../x.exe\"\n", "'..' component"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"a?.exe\"\n", "'?', which Windows forbids"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"aux.txt\"\n", "reserved device name"},
      {base + "[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"a./b\"\n", "may not end with a dot"},
      {base + "[[files]]\nsource = \"payload/bin\"\n[[files]]\nsource = \"payload/bin/tool.exe\"\ndestination = \"TOOL.EXE\"\n",
       "is installed twice"},
      {base + "[[files]]\nsource = \"payload\"\ninclude = [\"*.none\"]\n", "no file of folder"},
      {std::string(kMinimal) + "[start-menu]\ngroup = \"A\\\\B\\\\\"\n", "p.toml:10:9: error: the program group may not end with a backslash"},
      {std::string(kMinimal) + "[appearance]\nbanner = \"licence.txt\"\n", "banner 'licence.txt': not a"},
      {std::string(kMinimal) + "[appearance]\nsplash-seconds = 300\n", "outside 1 to 256"},
      {std::string(kMinimal) + "[appearance]\nheader-text-colour = \"red\"\n", "\"#RRGGBB\" or \"none\""},
      {std::string(kMinimal) + "[requirements]\ndotnet = \"4.8\"\n", "cannot require .NET Framework \"4.8\""},
      {std::string(kMinimal) + "[requirements]\nminimum-os = \"windows-11\"\n", "unknown Windows release"},
      {std::string(kMinimal) + "[[registry]]\nroot = \"HKCU\"\nkey = \"K\"\nvalue = 5000000000\n", "dword value"},
      {std::string(kMinimal) + "[[registry]]\nroot = \"HKEY_NOWHERE\"\nkey = \"K\"\nvalue = 1\n", "unknown registry root"},
      {std::string(kMinimal) + "[[registry]]\nroot = \"HKCU\"\nkey = \"K\\\\\"\nvalue = 1\n", "registry key must be"},
      {std::string(kMinimal) + "[after-install]\nrun = \"go\\u0017\"\n", "p.toml:10:10: error: the run target may not end with the control character 0x17"},
      {std::string(kMinimal) + "[product]\n", "p.toml:9:1:"},  // a table defined twice
      {std::string(kMinimal) + "codepage2 = 1\n", "unknown key 'codepage2'"},
      {"codepage = 437\n" + std::string(kMinimal), "not a Windows ANSI code page"},
      {std::string(kMinimal) + "[texts]\nwelcome = \"x\"\nwelcome-file = \"licence.txt\"\n", "not both"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.parse(c.toml);
    EXPECT_TRUE(f.d.failed()) << c.toml;
    EXPECT_TRUE(f.has(c.expected)) << "expected: " << c.expected << "\ngot:\n" << f.messages();
  }

  // The product name: 138 characters fit every text of the installer, 139 do not.
  for (size_t n : {138u, 139u}) {
    Fixture f;
    f.parse("[product]\nname = \"" + std::string(n, 'x') + "\"\n[destination]\nkind = \"current\"\npath = \"\"\n"
            "[[files]]\nsource = \"payload/empty.txt\"\n");
    EXPECT_EQ(f.d.failed(), n == 139) << f.messages();
  }
}

// Version texts for the version resource (UTF-8 kept), the registry's copies in the code page,
// and the registration's values in the script's registry list after the project's own.
TEST(Identity, VersionPublisherAndTheRegistration) {
  Fixture f;
  Project p = f.parse(std::string(kMinimal) + R"(
[[registry]]
root = "HKCU"
key = "Software\\Acme"
name = "Mine"
value = "x"
)" + "");
  ASSERT_FALSE(f.d.failed()) << f.messages();
  // Without version, publisher or url only the icon, the size and the absent Change and Repair.
  ASSERT_EQ(p.script.registry.size(), 5u);
  EXPECT_EQ(p.script.registry[0].valueName, "Mine");
  EXPECT_EQ(p.identity.description, "Tool Setup");

  Fixture g;
  Project q = g.parse(R"([product]
name = "Tool"
version = "10.20.30.40-beta"
publisher = "Acme Ltd"
description = "Tool's installer"
copyright = "© 2024 Acme ☃"
url = "https://acme.invalid/"
display-icon = "bin/tool.exe"
[destination]
kind = "program-files"
path = "Acme\\Tool"
[[files]]
source = "payload/bin"
destination = "bin"
)");
  ASSERT_FALSE(g.d.failed()) << g.messages();
  EXPECT_EQ(q.identity.name, "Tool");
  EXPECT_EQ(q.identity.version, "10.20.30.40-beta");
  EXPECT_EQ(q.identity.fileVersion[0], 10);
  EXPECT_EQ(q.identity.fileVersion[3], 40);
  EXPECT_EQ(q.identity.copyright, "\xC2\xA9 2024 Acme \xE2\x98\x83");  // Unicode: the snowman is fine here
  std::map<std::string, ScriptRegistryValue> values;
  for (const ScriptRegistryValue& v : q.script.registry) {
    EXPECT_EQ(v.root, 0x80000002u);
    EXPECT_EQ(v.subkey, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tool");
    values[*v.valueName] = v;
  }
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values["DisplayVersion"].text, "10.20.30.40-beta");
  EXPECT_EQ(values["Publisher"].text, "Acme Ltd");
  EXPECT_EQ(values["URLInfoAbout"].text, "https://acme.invalid/");
  EXPECT_EQ(values["DisplayIcon"].text, "<SetupPath>\\bin\\tool.exe");
  EXPECT_EQ(values["DisplayIcon"].typeByte, 1);
  EXPECT_EQ(values["EstimatedSize"].typeByte, 4);
  EXPECT_EQ(values["EstimatedSize"].dword, 16u + 1u);  // the allowance, and 7 bytes rounded up
  EXPECT_EQ(values["NoModify"].dword, 1u);
  EXPECT_EQ(values["NoRepair"].dword, 1u);

  // The wizard's web link stands in for the url; a link that is no address does not.
  Fixture h;
  Project r = h.parse(std::string(kMinimal) + "[link]\ntext = \"Site\"\ntarget = \"http://site.invalid\"\n");
  ASSERT_FALSE(h.d.failed()) << h.messages();
  bool url = false;
  for (auto& v : r.script.registry) url |= v.valueName == "URLInfoAbout" && v.text == "http://site.invalid";
  EXPECT_TRUE(url);

  struct Case {
    std::string product;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {"version = \"1.70000\"", "p.toml:3:14: error: a version number is at most 65535"},
           {"version = \"one\"", "p.toml:3:11: warning: the version does not start with a number"},
           {"publisher = \"Acme\\nLtd\"", "p.toml:3:18: error: publisher must be a single line"},
           {"publisher = \"\xE2\x98\x83\"", "p.toml:3:14: error: publisher: character U+2603"},
           {"display-icon = \"bin/none.exe\"", "warning: display icon 'bin\\none.exe' is not one of the packaged files"},
           {"url = \"acme.invalid\"", "warning: the url does not start with"},
           {"copyright = \"" + std::string(261, 'c') + "\"", "copyright is 261 characters long; at most 260"},
       }) {
    Fixture k;
    k.parse("[product]\nname = \"Tool\"\n" + c.product + "\n[destination]\nkind = \"current\"\npath = \"\"\n"
            "[[files]]\nsource = \"payload/bin/tool.exe\"\n");
    EXPECT_TRUE(k.has(c.expected)) << "expected: " << c.expected << "\ngot:\n" << k.messages();
  }
}

TEST(Identity, IconFromIcoOrPngAndRefusals) {
  Fixture f;
  const std::string ico = std::string(MARLOWICK_SOURCE_DIR) + "/resources/common/marlowick.ico";
  Project p = f.parse("[product]\nname = \"Tool\"\nicon = \"" + ico + "\"\n" + std::string(kMinimal).substr(std::string(kMinimal).find("[destination]")));
  ASSERT_FALSE(f.d.failed()) << f.messages();
  ASSERT_EQ(p.identity.icon.size(), 2u);
  EXPECT_EQ(p.identity.icon[0].width, 48u);
  EXPECT_EQ(p.identity.icon[1].width, 32u);
  EXPECT_EQ(p.identity.icon[0].sourceBits, 4u);

  test::writeFile(f.dir / "bad.ico", std::string("\0\0\1\0\1\0", 6) + std::string(16, '\xFF'));
  test::writeFile(f.dir / "cursor.cur", std::string("\0\0\2\0\1\0", 6));
  for (auto [file, expected] : std::vector<std::pair<std::string, std::string>>{
           {"licence.txt", "p.toml:3:8: error: icon 'licence.txt': not an ICO or PNG file"},
           {"bad.ico", "icon 'bad.ico': image 1 lies outside the file"},
           {"cursor.cur", "a cursor file, not an icon"},
           {"missing.ico", "icon 'missing.ico': cannot read"}}) {
    Fixture g;
    test::writeFile(g.dir / "bad.ico", std::string("\0\0\1\0\1\0", 6) + std::string(16, '\xFF'));
    test::writeFile(g.dir / "cursor.cur", std::string("\0\0\2\0\1\0", 6));
    g.parse("[product]\nname = \"Tool\"\nicon = \"" + file + "\"\n" + std::string(kMinimal).substr(std::string(kMinimal).find("[destination]")));
    EXPECT_TRUE(g.has(expected)) << "expected: " << expected << "\ngot:\n" << g.messages();
  }
}

// -D NAME=VALUE: ${NAME} in any string, $${ for a literal ${, positions kept for what follows.
TEST(Defines, ExpandedEverywhereWithPositions) {
  Fixture f;
  Defines defines;
  std::string error;
  ASSERT_TRUE(addDefine("VERSION=1.2.3", defines, error));
  ASSERT_TRUE(addDefine("DIR=bin", defines, error));
  ASSERT_TRUE(addDefine("EMPTY=", defines, error));
  EXPECT_FALSE(addDefine("NOVALUE", defines, error));
  EXPECT_FALSE(addDefine("9X=1", defines, error));
  EXPECT_FALSE(addDefine("A-B=1", defines, error));
  EXPECT_NE(error.find("NAME=VALUE"), std::string::npos);
  Project p = parseProject(R"([product]
name = "Tool ${VERSION}${EMPTY}"
version = "${VERSION}"
caption = "Costs $${PRICE} and $5"
[destination]
kind = "program-files"
path = "Acme"
[[files]]
source = "payload/${DIR}/tool.exe"
)", "p.toml", f.dir.path(), f.d, defines);
  ASSERT_FALSE(f.d.failed()) << f.messages();
  EXPECT_EQ(p.script.productName, "Tool 1.2.3");
  EXPECT_EQ(p.identity.version, "1.2.3");
  EXPECT_EQ(p.identity.fileVersion[2], 3);
  EXPECT_EQ(p.script.windowCaption, "Costs ${PRICE} and $5");
  EXPECT_EQ(p.script.files.at(0).name, "tool.exe");

  Fixture g;
  Defines snow{{"SNOW", "\xE2\x98\x83"}, {"V", "abc"}, {"UNUSED", "x"}};
  parseProject("[product]\nname = \"A${SNOW}b\"\ncaption = \"${MISSING} ${bad name} ${OPEN\"\n"
               "[destination]\nkind = \"current\"\npath = \"\"\n[texts]\nwelcome = \"${V}x\\u2603\"\n"
               "[[files]]\nsource = \"payload/empty.txt\"\n",
               "p.toml", g.dir.path(), g.d, snow);
  // A character that came from a variable points at its ${; later ones keep their own column.
  EXPECT_TRUE(g.has("p.toml:2:10: error: product name: character U+2603")) << g.messages();
  EXPECT_TRUE(g.has("p.toml:8:17: error: welcome text: character U+2603")) << g.messages();
  EXPECT_TRUE(g.has("p.toml:3:12: error: '${MISSING}' is not defined; give it with -D MISSING=VALUE")) << g.messages();
  EXPECT_TRUE(g.has("p.toml:3:23: error: '${bad name}' is not a variable name")) << g.messages();
  EXPECT_TRUE(g.has("p.toml:3:35: error: '${' without its closing '}'")) << g.messages();
  EXPECT_TRUE(g.has("p.toml: warning: -D UNUSED is not used by the project")) << g.messages();
}

// What is accepted but cannot work as written.
TEST(Warnings, MarkersPicturesAndTexts) {
  Fixture f;
  test::writeBytes(f.dir / "wide.bmp", test::smallBmp(700, 10));
  test::writeBytes(f.dir / "tall.bmp", test::smallBmp(100, 90));
  test::writeBytes(f.dir / "fine.bmp", test::smallBmp(150, 57));
  f.parse(std::string(kMinimal) + R"([texts]
welcome = """)" + std::string(40 * 60, 'w') + R"("""
licence = " \n "
finish = "Installed in <SetupPath>"
[appearance]
side-picture = "wide.bmp"
banner = "tall.bmp"
[[registry]]
root = "HKCU"
key = "Software\\Acme"
name = "Path"
value = "<setuppath>\\bin;<SetupPath>"
)");
  ASSERT_FALSE(f.d.failed()) << f.messages();
  EXPECT_TRUE(f.has("p.toml:10:11: warning: the welcome text takes about 42 lines; the welcome page shows 13")) << f.messages();
  EXPECT_TRUE(f.has("p.toml:11:11: warning: the licence text is blank")) << f.messages();
  EXPECT_TRUE(f.has("p.toml:12:24: warning: '<SetupPath>' is replaced by the installation folder only in registry values")) << f.messages();
  EXPECT_TRUE(f.has("p.toml:14:16: warning: side-picture is 700 x 10 pixels")) << f.messages();
  EXPECT_TRUE(f.has("p.toml:15:10: warning: banner is 100 x 90 pixels")) << f.messages();
  EXPECT_TRUE(f.has("p.toml:20:10: warning: '<setuppath>' stays as written")) << f.messages();
  EXPECT_FALSE(f.has("20:26")) << "the exact marker is not warned about\n" << f.messages();

  // Pictures that fit, a short welcome and a licence only Windows 95 to Me cannot hold.
  Fixture g;
  test::writeBytes(g.dir / "fine.bmp", test::smallBmp(150, 57));
  test::writeFile(g.dir / "long.txt", std::string(70000, 'l'));
  g.parse(std::string(kMinimal) + "[texts]\nwelcome = \"Hello\"\nlicence-file = \"long.txt\"\n[appearance]\nbanner = \"fine.bmp\"\n");
  ASSERT_FALSE(g.d.failed()) << g.messages();
  EXPECT_TRUE(g.has("warning: the licence text is 70000 bytes; the licence box of Windows 95, 98 and Me holds 65535"))
      << g.messages();
  EXPECT_EQ(g.d.all().size(), 1u) << g.messages();
  Fixture h;
  test::writeFile(h.dir / "long.txt", std::string(70000, 'l'));
  h.parse(std::string(kMinimal) + "[texts]\nlicence-file = \"long.txt\"\n[requirements]\nminimum-os = \"windows-xp\"\n");
  EXPECT_TRUE(h.d.all().empty()) << h.messages();
}

TEST(FileSelection, Globs) {
  EXPECT_TRUE(globMatch("**", "a/b/c.txt"));
  EXPECT_TRUE(globMatch("**/*.txt", "c.txt"));
  EXPECT_TRUE(globMatch("**/*.txt", "a/b/c.txt"));
  EXPECT_FALSE(globMatch("*.txt", "a/c.txt"));
  EXPECT_TRUE(globMatch("a/**/c.txt", "a/c.txt"));
  EXPECT_TRUE(globMatch("a/**/c.txt", "a/x/y/c.txt"));
  EXPECT_FALSE(globMatch("a/**/c.txt", "b/a/c.txt"));
  EXPECT_TRUE(globMatch("lib?.[ds][lo]*", "lib1.dll"));
  EXPECT_TRUE(globMatch("[!a]*", "bcd"));
  EXPECT_FALSE(globMatch("[!a]*", "abc"));
  EXPECT_TRUE(globMatch("*a*b*", "xxaYYbzz"));
  EXPECT_FALSE(globMatch("*a*b*", "xxbYYazz"));
}

TEST(Pictures, TopDownIsTurnedAndBrokenOnesRefused) {
  std::vector<uint8_t> bmp = test::smallBmp(2, 3);
  // Make it top-down: negative height, rows reversed.
  std::vector<uint8_t> topDown = bmp;
  int32_t h = -3;
  std::memcpy(&topDown[22], &h, 4);
  const size_t row = 8;
  for (int r = 0; r < 3; ++r) std::memcpy(&topDown[54 + r * row], &bmp[54 + (2 - r) * row], row);
  EXPECT_EQ(normalisePicture(topDown), bmp);
  EXPECT_EQ(normalisePicture(bmp), bmp);

  std::vector<uint8_t> truncated(bmp.begin(), bmp.end() - 1);
  EXPECT_THROW(normalisePicture(truncated), std::runtime_error);
  std::vector<uint8_t> badOffset = bmp;
  badOffset[10] = 0xF0;
  EXPECT_THROW(normalisePicture(badOffset), std::runtime_error);
  EXPECT_THROW(normalisePicture({'G', 'I', 'F', '8', '9', 'a'}), std::runtime_error);
}

#ifdef MARLOWICK_HAVE_PNG
TEST(Pictures, PngBecomesBottomUp24BitBmp) {
  // 3 x 2 RGBA: top row red, green, transparent; bottom row blue, white, black.
  const uint8_t rgba[] = {255, 0, 0, 255, 0, 255, 0, 255, 9, 9, 9, 0,
                          0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255};
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 3;
  image.height = 2;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_get_memory_size(image, size, 0, rgba, 0, nullptr));
  std::vector<uint8_t> png(size);
  ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, rgba, 0, nullptr));
  png.resize(size);

  std::vector<uint8_t> bmp = normalisePicture(png);
  ASSERT_EQ(bmp.size(), 54u + 2 * 12);  // rows of 9 bytes padded to 12
  EXPECT_EQ(bmp[28], 24);
  EXPECT_EQ(bmp[22], 2);  // positive height: bottom-up
  // BGR, bottom row first; the transparent pixel laid over white.
  const uint8_t bottom[] = {255, 0, 0, 255, 255, 255, 0, 0, 0};
  const uint8_t top[] = {0, 0, 255, 0, 255, 0, 255, 255, 255};
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 54, bmp.begin() + 63), std::vector<uint8_t>(bottom, bottom + 9));
  EXPECT_EQ(std::vector<uint8_t>(bmp.begin() + 66, bmp.begin() + 75), std::vector<uint8_t>(top, top + 9));
}
#endif

TEST(CodePages, ConversionAndLineEnds) {
  CodePage cp(1252);
  std::optional<ConversionFailure> failure;
  EXPECT_EQ(cp.encode("caf\xC3\xA9 \xE2\x82\xAC", failure), "caf\xE9 \x80");
  EXPECT_FALSE(failure);
  cp.encode("ab\xCE\xA9", failure);  // Greek omega is not in 1252
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->index, 2u);
  EXPECT_EQ(failure->codePoint, U'\u03A9');
  EXPECT_EQ(cp.decode("caf\xE9"), "caf\xC3\xA9");

  // Shift-JIS: a character whose trail byte is 0x5C would read as a path separator.
  CodePage sjis(932);
  sjis.encode("\xE8\xA1\xA8", failure);  // U+8868, 0x95 0x5C in code page 932
  EXPECT_TRUE(failure);
  EXPECT_EQ(sjis.encode("\xE6\x97\xA5", failure), "\x93\xFA");  // U+65E5
  EXPECT_FALSE(failure);

  EXPECT_EQ(crlfLineEnds("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
  EXPECT_THROW(CodePage(437), std::invalid_argument);
}

}  // namespace
}  // namespace mw::packager

namespace mw::packager {
namespace {

// The sample product in examples/ must stay a valid project.
TEST(Sample, ProjectLoadsWithoutComplaint) {
  Diagnostics d;
  Project p = loadProject(std::filesystem::path(MARLOWICK_SOURCE_DIR) / "examples/sample/project.toml", d);
  std::string messages;
  for (auto& m : d.all()) messages += render(m) + "\n";
  EXPECT_TRUE(d.all().empty()) << messages;
  EXPECT_EQ(p.script.files.size(), 7u);
  EXPECT_FALSE(p.script.sideBitmap.empty());
  EXPECT_FALSE(p.script.bannerBitmap.empty());
  EXPECT_FALSE(p.script.licenceText.empty());
}

}  // namespace
}  // namespace mw::packager
