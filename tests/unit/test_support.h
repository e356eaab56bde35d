// What every unit test of the update shares: a fresh fake, and the texts that
// the user must see, written out independently of the program.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/fake_windows.h"

// Every test of the update starts from an empty fake.
class FakeWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { resetFakeWindows(); }
  FakeWindows& fake = fakeWindows();
};

namespace expected {
inline const std::string NOT_INSTALLED =
    "You have not installed Lumeric Server 4.5.\n\nMendrel2 installation cannot continue.";
inline const std::string INSTALL_DIR =
    "Failed to retrieve Install Directory information from Registry.\n\nMendrel2 "
    "installation cannot continue.";
inline const std::string LANGUAGE =
    "Failed to retrieve National Language information from Registry.\n\nMendrel2 "
    "installation cannot continue.";
inline const std::string LEVEL =
    "Failed to retrieve Service Level information from Registry.\n\nMendrel2 installation "
    "cannot continue.";
inline const std::string SAME_LEVEL =
    "The existing Lumeric Server installation level is already Mendrel2.\n\nClick cancel to "
    "exit or OK to continue.";
inline const std::string HIGHER_LEVEL =
    "The existing Lumeric Server installation level is higher than Mendrel2.\n\nIf you are "
    "intending to backlevel to Mendrel2 of version 4.5, please do so by uninstalling "
    "Lumeric Server 4.5 and reinstalling 4.5 + Mendrel2.\n\nIf you continue with this "
    "installation, your product may become unstable due to mismatched levels of code.\n\n"
    "Click cancel to exit or OK to continue.";
inline const std::string NO_COMPILER =
    "The QDXCOMP environment variable, which names the compiler in use, is not set.\n\n"
    "Mendrel2 installation cannot continue.";
inline const std::string BAD_COMPILER =
    "The compiler name in the QDXCOMP environment variable cannot be used to copy files.\n\n"
    "Mendrel2 installation cannot continue.";
inline const std::string COPY_FAILED =
    "Failed to copy the Mendrel2 files into the installation directory.\n\nThe Service Level "
    "has not been changed. Mendrel2 installation did not complete.";
inline const std::string RECORD_FAILED =
    "Failed to record the new Service Level in Registry.\n\nMendrel2 installation did not "
    "complete.";
inline const std::string CANNOT_CONTINUE = "\n\nMendrel2 installation cannot continue.";
inline const std::string NETWORK_PATH =
    "setup.exe cannot copy the Mendrel2 files from a network path. Copy the distribution to a "
    "local drive, or map a drive letter to its share, and start setup.exe from there." +
    CANNOT_CONTINUE;
inline const std::string NO_MEMORY =
    "There is not enough memory to list the Mendrel2 files." + CANNOT_CONTINUE;
inline std::string noInstallDir(const std::string& path) {
  return "The installation directory \"" + path + "\" does not exist." + CANNOT_CONTINUE;
}
inline std::string noSource(const std::string& folder) {
  return "The folder \"" + folder +
         "\" of the Mendrel2 distribution is not in the current directory. Start setup.exe from "
         "the root of a complete Mendrel2 distribution." +
         CANNOT_CONTINUE;
}
inline std::string unreadable(const std::string& folder) {
  return "The folder \"" + folder +
         "\" of the Mendrel2 distribution cannot be read. Check that the distribution is "
         "complete and readable, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string tooLong(const std::string& path) {
  return "The path \"" + path +
         "\" in the installation would be longer than Windows lets the copy write. Reinstall "
         "Lumeric Server 4.5 in a folder with a shorter path, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string isProtected(const std::string& path) {
  return "The file \"" + path +
         "\" cannot be replaced: it is read-only, hidden or a system file. Clear those attributes "
         "(attrib -r -h -s), then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline const std::string NO_RIGHTS =
    "Updating Lumeric Server 4.5 needs administrator rights. Open a Command Prompt with \"Run "
    "as administrator\", set QDXCOMP there, and start setup.exe from it." +
    CANNOT_CONTINUE;
inline const std::string UNANSWERABLE =
    "The copies would ask before replacing files, and nobody can answer them here. Set "
    "COPYCMD=/Y in the environment that starts setup.exe, then start it again." +
    CANNOT_CONTINUE;
inline std::string inUse(const std::string& path) {
  return "The file \"" + path +
         "\" cannot be replaced: it is in use or read-only. Stop Lumeric Server 4.5 and every "
         "program that uses its files, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string planted(const std::string& path) {
  return "The file \"" + path +
         "\" would run in place of Windows' xcopy. Delete it from the Mendrel2 distribution, or "
         "use a fresh copy of the distribution, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string sourceTooLong(const std::string& path) {
  return "The path \"" + path +
         "\" in the Mendrel2 distribution is longer than Windows lets the copy read. Copy the "
         "distribution into a new folder with a short name directly under Program Files, then "
         "start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string fileAndFolder(const std::string& path) {
  return "The Mendrel2 distribution holds both a file and a folder for \"" + path +
         "\". Check that the distribution is complete and unchanged, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string openToUsers(const std::string& path, const std::string& reason) {
  return "Users who are not administrators can change \"" + path +
         "\" in the Mendrel2 distribution (" + reason +
         "), so setup.exe could install files that no "
         "administrator put there. Copy the distribution into a new folder that only "
         "administrators can change, then start setup.exe from there." +
         CANNOT_CONTINUE;
}
inline std::string noJob(unsigned long error) {
  return "Windows did not let setup.exe run its copies in a job (error " + std::to_string(error) +
         "), so a copy may go on after setup.exe has been ended. If setup.exe is ended before it "
         "finishes, wait until no xcopy.exe is running before you start setup.exe again.";
}
inline const std::string ANOTHER_RUN =
    "Another Mendrel2 installation is running on this computer. Wait until it has ended, then "
    "start setup.exe again." +
    CANNOT_CONTINUE;
inline std::string noSpace(const std::string& path) {
  return "There is not enough free disk space for the Mendrel2 files in \"" + path + "\"." +
         CANNOT_CONTINUE;
}
inline std::string notCopied(const std::string& path) {
  return "The Mendrel2 file \"" + path +
         "\" was not copied into the installation.\n\nThe Service Level has not been changed. "
         "Mendrel2 installation did not complete.";
}
inline std::string kindInTheWay(const std::string& path) {
  return "The installation holds a folder where Mendrel2 has the file \"" + path +
         "\", or a file where it has a folder. Move it out of the installation directory, then "
         "start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string percentSigns(const std::string& path) {
  return "The installation directory \"" + path +
         "\" holds two percent signs, which the command interpreter would read as a variable and "
         "change. Reinstall Lumeric Server 4.5 in a folder whose name holds at most one percent "
         "sign, then start setup.exe again." +
         CANNOT_CONTINUE;
}
inline std::string link(const std::string& path) {
  return "The installation holds a link at \"" + path +
         "\": a symbolic link, junction or hard link, through which a copy would change files "
         "outside the installation. Replace it with a plain folder or file, then start setup.exe "
         "again." +
         CANNOT_CONTINUE;
}
// The texts of a sealed release, each of its kind: "list", "changed", "missing", "extra",
// "link", "unreadable" or "installed", naming path.
inline std::string seal(const std::string& kind, const std::string& path) {
  const std::string file = "The file \"" + path + "\"", in = " in the Mendrel2 distribution",
                    fresh =
                        " Replace the distribution with a fresh copy of the release, then "
                        "start setup.exe again." +
                        CANNOT_CONTINUE;
  if (kind == "list") {
    return file +
           ", which lists the released Mendrel2 files, is missing or is not the one released "
           "with this setup.exe." +
           fresh;
  }
  if (kind == "changed") return file + in + " differs from the released one." + fresh;
  if (kind == "missing") return file + " of the released Mendrel2 distribution is missing." + fresh;
  if (kind == "extra") {
    return file + in +
           " was not released with it. Delete it, or replace the distribution with a fresh copy "
           "of the release, then start setup.exe again." +
           CANNOT_CONTINUE;
  }
  if (kind == "link") {
    return "The Mendrel2 distribution holds a link at \"" + path +
           "\": a symbolic link, junction or mount point, through which the copies would read "
           "files from elsewhere." +
           fresh;
  }
  if (kind == "unreadable") {
    return file + in +
           " cannot be read. Check that no other program holds it open and that no antivirus has "
           "blocked it, then start setup.exe again." +
           CANNOT_CONTINUE;
  }
  return "The Mendrel2 file \"" + path +
         "\" in the installation differs from the released one.\n\nThe Service Level has not "
         "been changed. Mendrel2 installation did not complete.";
}
inline const std::string NO_SHA256 =
    "Windows cannot compute the SHA-256 digests with which setup.exe checks the Mendrel2 files. "
    "Install Windows XP Service Pack 3 or later, then start setup.exe again." +
    CANNOT_CONTINUE;
inline const std::string NO_SYSTEM_FOLDER =
    "Windows did not tell setup.exe where its system folder is, so the copies cannot start. "
    "Restart the computer, then start setup.exe again." +
    CANNOT_CONTINUE;
inline const std::string UNANSWERED =
    "Nobody can answer this question here, so setup.exe took it as Cancel.";
inline const std::string CAPTION = "Lumeric Server 4.5 Mendrel2";
inline const std::string LEVEL_BYTES("2\0\0\0", 4);
}  // namespace expected
