# SPDX-License-Identifier: MIT
cmake_policy(VERSION 3.16)
# Lists the entries of folders that no test may write to. MODE=save stores the list in STATE
# before the suite; MODE=compare fails when an entry appeared there since.
set(watched / /var/lib /var/log /var/tmp /var/cache /run /etc /root /home /srv /opt /usr/local)

# Caches of tools that may run beside the suite (perf's build ids, compiler caches) are theirs.
set(ignored /root/.cache /root/.debug /root/.ccache)

set(listing "")
foreach(dir IN LISTS watched)
    file(GLOB entries LIST_DIRECTORIES true "${dir}/*" "${dir}/.*")
    list(REMOVE_ITEM entries ${ignored})
    list(SORT entries)
    foreach(entry IN LISTS entries)
        string(APPEND listing "${entry}\n")
    endforeach()
endforeach()

if(MODE STREQUAL "save")
    file(WRITE "${STATE}" "${listing}")
    return()
endif()

if(NOT EXISTS "${STATE}")
    message(FATAL_ERROR "no listing saved before the tests: ${STATE}")
endif()
file(STRINGS "${STATE}" before)
string(REPLACE "\n" ";" after "${listing}")
set(appeared "")
foreach(entry IN LISTS after)
    if(entry AND NOT entry IN_LIST before)
        string(APPEND appeared "  ${entry}\n")
    endif()
endforeach()
if(appeared)
    message(FATAL_ERROR "tests left entries outside their temporary directories:\n${appeared}")
endif()
message(STATUS "nothing appeared outside the tests' temporary directories")
