# The Debian changelog keeps its history, but its newest entry must be the
# project's version: a package must not say it is one version and be another.
# Included with CHANGELOG and VERSION set, or run on its own:
#   cmake -DCHANGELOG=... -DVERSION=... -P CheckChangelogVersion.cmake

file(STRINGS "${CHANGELOG}" newest_entry LIMIT_COUNT 1)
if(NOT newest_entry MATCHES "^countdown \\(([^)]+)\\) ")
  message(FATAL_ERROR "${CHANGELOG}: the first line is not a changelog entry: ${newest_entry}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "${CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, but the project's version is "
                      "${VERSION}: add an entry for ${VERSION} at the top")
endif()
