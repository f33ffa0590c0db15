# Run by CPack once the packages are made (CPACK_POST_BUILD_SCRIPTS): the
# debug package as Debian makes its own. CPack 3.25 writes that package's
# md5sums with the build folder's absolute paths (dpkg --verify and lintian
# find none of them) and gives it no documentation. This lists its files by
# their paths in the package, links /usr/share/doc/<package>-dbgsym to the
# documentation of the package it depends on (as debhelper does), and packs
# it again.
foreach(package ${CPACK_PACKAGE_FILES})
  if(NOT package MATCHES "\\.ddeb$")
    continue()
  endif()
  set(root ${CPACK_TOPLEVEL_DIRECTORY}/dbgsym-root)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/usr/*)
  list(SORT files)
  set(sums "")
  foreach(file ${files})
    file(MD5 ${root}/${file} sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${sums}")
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${CPACK_PACKAGE_NAME} ${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z6 --build ${root} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
