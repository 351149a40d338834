# What the .deb adds to the program, made from the project's own files: the changelog from
# CHANGELOG.md, the machine-readable copyright file from LICENSE, the manual page and the
# AppStream metadata with the version of project() and the date of its release. Debian's tools compress the
# changelog and the manual page with gzip -9n (the smallest file, no time stamp inside), and so
# does the build, so that lintian takes them as its own.

set(MEASURE_DEB_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${MEASURE_DEB_DIR})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/LICENSE)

# Appends `text` to the variable `out`, wrapped into lines of at most 79 characters, the first
# line after `first`, the others after `rest`.
function(measure_wrap out text first rest)
    string(STRIP "${text}" text)
    string(REGEX REPLACE "[ \t]+" ";" words "${text}")
    set(line "${first}")
    set(body "")
    set(fresh TRUE)
    foreach(word IN LISTS words)
        string(LENGTH "${line} ${word}" length)
        if(fresh)
            string(APPEND line "${word}")
            set(fresh FALSE)
        elseif(length GREATER 79)
            string(APPEND body "${line}\n")
            set(line "${rest}${word}")
        else()
            string(APPEND line " ${word}")
        endif()
    endforeach()
    set(${out} "${${out}}${body}${line}\n" PARENT_SCOPE)
endfunction()

# Ends the changelog's item being read, if any: appends it to `changelog`, wrapped.
macro(measure_changelog_item)
    if(NOT item STREQUAL "")
        measure_wrap(changelog "${item}" "  * " "    ")
        set(item "")
    endif()
endmacro()

# Debian's changelog from CHANGELOG.md: each release `## <version> - <YYYY-MM-DD>` becomes an
# entry, each list item of it (or paragraph) a "*" item. Sets MEASURE_RELEASE_DATE to the date of
# the newest release, and refuses a newest release that is not the version of project().
function(measure_debian_changelog markdown output maintainer)
    file(READ ${markdown} text)
    # Semicolons, backslashes and brackets would split or join the items of a CMake list: control
    # characters stand in for them, one character each, so that lines are measured right.
    string(ASCII 1 semicolon)
    string(ASCII 2 backslash)
    string(ASCII 3 open)
    string(ASCII 4 close)
    string(REPLACE ";" "${semicolon}" text "${text}")
    string(REPLACE "\\" "${backslash}" text "${text}")
    string(REPLACE "[" "${open}" text "${text}")
    string(REPLACE "]" "${close}" text "${text}")
    string(REPLACE "`" "" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")
    list(APPEND lines "## end")

    set(changelog "")
    set(version "")
    set(item "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^## ")
            measure_changelog_item()
            if(NOT version STREQUAL "")
                # Releases of one day are stamped a minute apart before noon, the newest last:
                # Debian wants each entry later than the one below it.
                math(EXPR minute "720 - ${same_day}")
                math(EXPR hh "${minute} / 60")
                math(EXPR mm "${minute} % 60")
                if(mm LESS 10)
                    set(mm "0${mm}")
                endif()
                execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
                                        date -u -R -d "${date} ${hh}:${mm} UTC"
                                OUTPUT_VARIABLE stamp OUTPUT_STRIP_TRAILING_WHITESPACE
                                COMMAND_ERROR_IS_FATAL ANY)
                string(APPEND changelog "\n -- ${maintainer}  ${stamp}\n\n")
            endif()
            if(line STREQUAL "## end")
                break()
            endif()
            set(day "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")
            if(NOT line MATCHES "^## ([0-9][0-9A-Za-z.+~-]*) - (${day})$")
                message(FATAL_ERROR "${markdown}: a release heading reads '## <version> - "
                                    "<YYYY-MM-DD>', not '${line}'")
            endif()
            set(version ${CMAKE_MATCH_1})
            if(DEFINED date AND date STREQUAL CMAKE_MATCH_2)
                math(EXPR same_day "${same_day} + 1")
            else()
                set(same_day 0)
            endif()
            set(date ${CMAKE_MATCH_2})
            if(NOT DEFINED newest)
                set(newest ${version})
                set(MEASURE_RELEASE_DATE ${date} PARENT_SCOPE)
            endif()
            string(APPEND changelog "measure (${version}) unstable; urgency=medium\n\n")
        elseif(version STREQUAL "")
            # The introduction before the first release.
        elseif(line MATCHES "^- (.*)")
            measure_changelog_item()
            set(item "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^[ \t]*$")
            measure_changelog_item()
        else()
            string(STRIP "${line}" line)
            string(APPEND item " ${line}")
        endif()
    endforeach()
    if(NOT newest STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "${markdown}: the newest release is '${newest}', but the version of "
                            "project() is ${PROJECT_VERSION}: add its entry first.")
    endif()
    string(REPLACE "${semicolon}" ";" changelog "${changelog}")
    string(REPLACE "${backslash}" "\\" changelog "${changelog}")
    string(REPLACE "${open}" "[" changelog "${changelog}")
    string(REPLACE "${close}" "]" changelog "${changelog}")
    # Written only when it changes, so that a new configuration does not compress it again.
    file(WRITE ${output}.new "${changelog}")
    file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
endfunction()

# The copyright file in Debian's machine-readable format, with the licence text of LICENSE.
# Debian's name for this licence is Expat, since "MIT" names several.
function(measure_debian_copyright license output)
    file(READ ${license} text)
    string(REGEX REPLACE "^.*\nCopyright \\(c\\) [^\n]*\n" "" terms "${text}")
    string(STRIP "${terms}" terms)
    string(REGEX REPLACE "\n\n+" "\n.\n" terms "${terms}")
    string(REPLACE "\n" "\n " terms "${terms}")
    file(WRITE ${output}
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
        "Upstream-Name: ${PROJECT_NAME}\n"
        "Upstream-Contact: ${MEASURE_MAINTAINER}\n"
        "Source: ${PROJECT_HOMEPAGE_URL}\n"
        "\n"
        "Files: *\n"
        "Copyright: ${MEASURE_COPYRIGHT_HOLDERS}\n"
        "License: Expat\n"
        "Comment: the MIT licence, as LICENSE states it\n"
        "\n"
        "License: Expat\n"
        " ${terms}\n")
endfunction()

measure_debian_changelog(${CMAKE_SOURCE_DIR}/CHANGELOG.md ${MEASURE_DEB_DIR}/changelog
                         "${MEASURE_MAINTAINER}")
measure_debian_copyright(${CMAKE_SOURCE_DIR}/LICENSE ${MEASURE_DEB_DIR}/copyright)

# Software centres know the program by a reverse domain name, that of its home page.
string(REGEX REPLACE "^https://([^/]+).*$" "\\1" host "${PROJECT_HOMEPAGE_URL}")
string(REPLACE "." ";" host "${host}")
list(REVERSE host)
list(JOIN host "." MEASURE_APPSTREAM_ID)
configure_file(packaging/measure.1.in ${MEASURE_DEB_DIR}/measure.1 @ONLY)
configure_file(packaging/measure.metainfo.xml.in ${MEASURE_DEB_DIR}/measure.metainfo.xml @ONLY)

foreach(doc changelog measure.1)
    add_custom_command(OUTPUT ${MEASURE_DEB_DIR}/${doc}.gz
                       COMMAND gzip -9 -n -k -f ${MEASURE_DEB_DIR}/${doc}
                       DEPENDS ${MEASURE_DEB_DIR}/${doc} VERBATIM)
endforeach()
add_custom_target(deb_documents ALL
                  DEPENDS ${MEASURE_DEB_DIR}/changelog.gz ${MEASURE_DEB_DIR}/measure.1.gz)

install(FILES ${MEASURE_DEB_DIR}/copyright ${MEASURE_DEB_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${MEASURE_DEB_DIR}/measure.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MEASURE_DEB_DIR}/measure.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MEASURE_MAINTAINER}")
