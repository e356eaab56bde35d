// Every text that the program shows, grouped by the stage that shows it.
#pragma once

#include "installer/installer.h"

// The product's names and the endings that the texts share, spelled once.
#define PRODUCT PRODUCT_NAME_TEXT " " PRODUCT_VERSION_TEXT
#define UPDATE UPDATE_NAME_TEXT
#define CANNOT_CONTINUE "\n\n" UPDATE " installation cannot continue."
#define NOT_COMPLETE \
  "\n\nThe Service Level has not been changed. " UPDATE " installation did not complete."

// The start of the run.
inline constexpr char ANOTHER_RUN_MESSAGE[] =
    "Another " UPDATE
    " installation is running on this computer. Wait until it has ended, then "
    "start setup.exe again." CANNOT_CONTINUE;

// Reading the registration.
inline constexpr char NOT_INSTALLED_MESSAGE[] =
    "You have not installed " PRODUCT "." CANNOT_CONTINUE;
inline constexpr char INSTALL_DIR_MESSAGE[] =
    "Failed to retrieve Install Directory information from Registry." CANNOT_CONTINUE;
inline constexpr char PERCENT_SIGNS_MESSAGE[] =
    "The installation directory \"%s\" holds two percent signs, which the command interpreter "
    "would read as a variable and change. Reinstall " PRODUCT
    " in a folder whose name holds at most one percent sign, then start setup.exe "
    "again." CANNOT_CONTINUE;
inline constexpr char LANGUAGE_MESSAGE[] =
    "Failed to retrieve National Language information from Registry." CANNOT_CONTINUE;
inline constexpr char LEVEL_MESSAGE[] =
    "Failed to retrieve Service Level information from Registry." CANNOT_CONTINUE;

// The level gate's questions.
inline constexpr char SAME_LEVEL_QUESTION[] =
    "The existing " PRODUCT_NAME_TEXT " installation level is already " UPDATE
    ".\n\nClick cancel to exit or OK to continue.";
inline constexpr char HIGHER_LEVEL_QUESTION[] =
    "The existing " PRODUCT_NAME_TEXT " installation level is higher than " UPDATE
    ".\n\nIf you are intending to backlevel to " UPDATE " of version " PRODUCT_VERSION_TEXT
    ", please do so by uninstalling " PRODUCT " and reinstalling " PRODUCT_VERSION_TEXT " + " UPDATE
    ".\n\nIf you continue with this installation, your product may "
    "become unstable due to mismatched levels of code.\n\nClick cancel to exit or OK to continue.";

// Written to standard error after a question that no box can show.
inline constexpr char UNANSWERED_NOTE[] =
    "Nobody can answer this question here, so setup.exe took it as Cancel.";

// The compiler named in the environment.
inline constexpr char NO_COMPILER_MESSAGE[] =
    "The QDXCOMP environment variable, which names the compiler in use, is not "
    "set." CANNOT_CONTINUE;
inline constexpr char BAD_COMPILER_MESSAGE[] =
    "The compiler name in the QDXCOMP environment variable cannot be used to copy "
    "files." CANNOT_CONTINUE;

// The checks before the first copy; %s names the folder or file.
inline constexpr char NO_RIGHTS_MESSAGE[] =
    "Updating " PRODUCT
    " needs administrator rights. "
    "Open a Command Prompt with \"Run as administrator\", set QDXCOMP there, and start "
    "setup.exe from it." CANNOT_CONTINUE;
inline constexpr char NETWORK_PATH_MESSAGE[] =
    "setup.exe cannot copy the " UPDATE
    " files from a "
    "network path. Copy the distribution to a local drive, or map a drive letter to its share, "
    "and start setup.exe from there." CANNOT_CONTINUE;
inline constexpr char NO_SYSTEM_FOLDER_MESSAGE[] =
    "Windows did not tell setup.exe where its system folder is, so the copies cannot start. "
    "Restart the computer, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char PLANTED_MESSAGE[] =
    "The file \"%s\" would run in place of Windows' xcopy. Delete it from the " UPDATE
    " distribution, or use a fresh copy of the distribution, then start setup.exe "
    "again." CANNOT_CONTINUE;
inline constexpr char OPEN_DISTRIBUTION_MESSAGE[] =
    "Users who are not administrators can change \"%s\" in the " UPDATE
    " distribution (%s), so setup.exe could install files that no administrator put there. Copy "
    "the "
    "distribution into a new folder that only administrators can change, then start setup.exe "
    "from there." CANNOT_CONTINUE;
// Why, in OPEN_DISTRIBUTION_MESSAGE's brackets; SIDs, since names are in each Windows' language.
inline constexpr char WRITER_REASON[] = "its permissions let %s change it";
inline constexpr char OWNER_REASON[] = "its owner is %s";
inline constexpr char NO_PERMISSIONS_KEPT[] = "its volume keeps no permissions";
inline constexpr char UNREADABLE_PERMISSIONS[] = "its permissions cannot be read";
inline constexpr char NO_INSTALL_DIR_MESSAGE[] =
    "The installation directory \"%s\" does not exist." CANNOT_CONTINUE;
inline constexpr char NO_SOURCE_MESSAGE[] =
    "The folder \"%s\" of the " UPDATE
    " distribution is "
    "not in the current directory. Start setup.exe from the root of a complete " UPDATE
    " distribution." CANNOT_CONTINUE;
inline constexpr char UNREADABLE_MESSAGE[] =
    "The folder \"%s\" of the " UPDATE
    " distribution "
    "cannot be read. Check that the distribution is complete and readable, then start setup.exe "
    "again." CANNOT_CONTINUE;
inline constexpr char SOURCE_TOO_LONG_MESSAGE[] =
    "The path \"%s\" in the " UPDATE
    " distribution is longer than Windows lets the copy read. "
    "Copy the distribution into a new folder with a short name directly under Program Files, "
    "then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char FILE_AND_FOLDER_MESSAGE[] =
    "The " UPDATE
    " distribution holds both a file and a folder for \"%s\". Check that the "
    "distribution is complete and unchanged, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char TOO_LONG_MESSAGE[] =
    "The path \"%s\" in the installation would be longer "
    "than Windows lets the copy write. Reinstall " PRODUCT
    " in a folder with a shorter path, "
    "then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char NO_MEMORY_MESSAGE[] =
    "There is not enough memory to list the " UPDATE " files." CANNOT_CONTINUE;
inline constexpr char PROTECTED_MESSAGE[] =
    "The file \"%s\" cannot be replaced: it is read-only, "
    "hidden or a system file. Clear those attributes (attrib -r -h -s), then start setup.exe "
    "again." CANNOT_CONTINUE;
inline constexpr char IN_USE_MESSAGE[] =
    "The file \"%s\" cannot be replaced: it is in use or "
    "read-only. Stop " PRODUCT
    " and every program that uses its files, then start setup.exe "
    "again." CANNOT_CONTINUE;
inline constexpr char KIND_IN_THE_WAY_MESSAGE[] =
    "The installation holds a folder where " UPDATE
    " has the file \"%s\", or a file where it has a folder. Move it out of the installation "
    "directory, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char LINK_MESSAGE[] =
    "The installation holds a link at \"%s\": a symbolic link, junction or hard link, through "
    "which a copy would change files outside the installation. Replace it with a plain folder or "
    "file, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char NO_SPACE_MESSAGE[] =
    "There is not enough free disk space for the " UPDATE " files in \"%s\"." CANNOT_CONTINUE;
inline constexpr char UNANSWERABLE_MESSAGE[] =
    "The copies would ask before replacing files, and "
    "nobody can answer them here. Set COPYCMD=/Y in the environment that starts setup.exe, then "
    "start it again." CANNOT_CONTINUE;

// The release's seal: the bytes that this setup.exe was released with.
#define FRESH_COPY \
  "Replace the distribution with a fresh copy of the release, then start setup.exe again."
inline constexpr char SEAL_LIST_MESSAGE[] =
    "The file \"%s\", which lists the released " UPDATE
    " files, is missing or is not the one released with this setup.exe. " FRESH_COPY
        CANNOT_CONTINUE;
inline constexpr char SEAL_CHANGED_MESSAGE[] =
    "The file \"%s\" in the " UPDATE
    " distribution differs from the released one. " FRESH_COPY CANNOT_CONTINUE;
inline constexpr char SEAL_MISSING_MESSAGE[] =
    "The file \"%s\" of the released " UPDATE
    " distribution is missing. " FRESH_COPY CANNOT_CONTINUE;
inline constexpr char SEAL_EXTRA_MESSAGE[] =
    "The file \"%s\" in the " UPDATE
    " distribution was not released with it. Delete it, or replace the distribution with a "
    "fresh copy of the release, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char SEAL_LINK_MESSAGE[] =
    "The " UPDATE
    " distribution holds a link at \"%s\": a symbolic link, junction or mount point, through "
    "which the copies would read files from elsewhere. " FRESH_COPY CANNOT_CONTINUE;
inline constexpr char SEAL_UNREADABLE_MESSAGE[] =
    "The file \"%s\" in the " UPDATE
    " distribution cannot be read. Check that no other program holds it open and that no "
    "antivirus has blocked it, then start setup.exe again." CANNOT_CONTINUE;
inline constexpr char SEAL_NO_SHA256_MESSAGE[] =
    "Windows cannot compute the SHA-256 digests with which setup.exe checks the " UPDATE
    " files. Install Windows XP Service Pack 3 or later, then start setup.exe "
    "again." CANNOT_CONTINUE;

// On standard error only, as the copies start; the run goes on.
inline constexpr char NO_JOB_NOTICE[] =
    "Windows did not let setup.exe run its copies in a job (error %lu), so a copy may go on "
    "after setup.exe has been ended. If setup.exe is ended before it finishes, wait until no "
    "xcopy.exe is running before you start setup.exe again.";

// After the copies: the installation was touched and the update is not complete.
inline constexpr char NOT_COPIED_MESSAGE[] =
    "The " UPDATE " file \"%s\" was not copied into the installation." NOT_COMPLETE;
inline constexpr char SEAL_INSTALLED_MESSAGE[] =
    "The " UPDATE " file \"%s\" in the installation differs from the released one." NOT_COMPLETE;
inline constexpr char COPY_FAILED_MESSAGE[] =
    "Failed to copy the " UPDATE " files into the installation directory." NOT_COMPLETE;
inline constexpr char RECORD_FAILED_MESSAGE[] =
    "Failed to record the new Service Level in Registry.\n\n" UPDATE
    " installation did not complete.";

#undef PRODUCT
#undef UPDATE
#undef CANNOT_CONTINUE
#undef NOT_COMPLETE
