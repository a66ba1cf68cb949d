#include "process/Tools.h"

#include "common/AtomicFile.h"
#include "support/Test.h"

namespace {

QString makeFile(const QString& path, bool executable)
{
    EXPECT_TRUE(AtomicFile::write(path, "#!/bin/sh\n"));
    if (executable)
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
    return path;
}

} // namespace

TEST(Tools, TheResourceFolderWinsThenTheFirstCandidateThatCanRun)
{
    TempHome home;
    Tools::setSystemToolsSearched(true);
    const QString first = home.filePath("opt/homebrew/bin/ipatool");
    const QString second = makeFile(home.filePath("usr/local/bin/ipatool"), true);
    makeFile(first, false);
    EXPECT_EQ(Tools::candidates("ipatool", {first, second}), second);
    makeFile(first, true);
    EXPECT_EQ(Tools::candidates("ipatool", {first, second}), first);
    // A folder of the tool's name is not a tool.
    QDir().mkpath(home.filePath("dir/ipatool"));
    EXPECT_EQ(Tools::candidates("ipatool", {home.filePath("nowhere"), home.filePath("dir/ipatool")}), std::nullopt);

    const QString bundled = makeFile(QDir(home.resourceDirectory()).filePath("ipatool"), true);
    EXPECT_EQ(Tools::candidates("ipatool", {first}), bundled);
    EXPECT_EQ(Tools::ipatool(), bundled);
    // Found afresh each time: removing it is noticed at once.
    QFile::remove(bundled);
    EXPECT_EQ(Tools::candidates("ipatool", {first}), first);
}

TEST(Tools, SystemToolsCanBeIgnoredForTestsAndTheDemo)
{
    TempHome home;
    EXPECT_EQ(Tools::ideviceID(), std::nullopt);
    const QString bundled = makeFile(QDir(home.resourceDirectory()).filePath("idevice_id"), true);
    EXPECT_EQ(Tools::ideviceID(), bundled);
}

TEST(Tools, FoldersAreMadeAgainAfterBeingDeletedAndNamedEvenWhenTheyCannotBe)
{
    TempHome home;
    QDir support(home.supportDirectory());
    const QString downloads = Tools::downloadsDirectory();
    EXPECT_EQ(downloads, support.filePath("IPA"));
    ASSERT_TRUE(support.removeRecursively());
    EXPECT_EQ(Tools::downloadsDirectory(), downloads);
    EXPECT_TRUE(QFileInfo(downloads).isDir());

    // A file where the support folder should be: nothing can be created under it.
    ASSERT_TRUE(support.removeRecursively());
    makeFile(home.supportDirectory(), false);
    EXPECT_EQ(Tools::cacheDirectory(), support.filePath("Cache"));
    EXPECT_FALSE(QFileInfo(Tools::cacheDirectory()).isDir());

    Tools::setSupportDirectory(std::nullopt);
    EXPECT_EQ(Tools::supportDirectory(), home.filePath(".local/share/Quorrel"));
}

TEST(Tools, IpatoolIsFoundWhereLinuxUsersPutARelease)
{
    TempHome home;
    Tools::setSystemToolsSearched(true);
    if (QFileInfo::exists("/opt/homebrew/bin/ipatool") || QFileInfo::exists("/usr/local/bin/ipatool"))
        GTEST_SKIP() << "an installed ipatool would win";
    const QString bin = home.filePath(".local/bin");
    makeFile(bin + "/ipatool-2.5.9-linux-amd64", true);
    makeFile(bin + "/ipatool-2.10.0-linux-arm64", false); // cannot run
    makeFile(bin + "/ipatool-2.6.0-linux-amd64", true);
    makeFile(bin + "/ipatool-2.7.0-linux-amd64.tar.gz", true);
    EXPECT_EQ(Tools::newestReleaseFile(bin), bin + "/ipatool-2.6.0-linux-amd64");
    EXPECT_EQ(Tools::ipatool(), bin + "/ipatool-2.6.0-linux-amd64");
    // A renamed copy in the same folder is taken first, and one in ~/go/bin after ~/.local/bin.
    makeFile(home.filePath("go/bin/ipatool"), true);
    EXPECT_EQ(Tools::ipatool(), bin + "/ipatool-2.6.0-linux-amd64");
    makeFile(bin + "/ipatool", true);
    EXPECT_EQ(Tools::ipatool(), bin + "/ipatool");
}
