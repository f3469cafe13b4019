# What the 64-bit build ships, made by three of its targets:
#
#   windows_package   package/Kestrova.exe            from the 32-bit build (KESTROVA_X86_BIN)
#                     package/QELDRA32.DLL            from KESTROVA_DEVMGR32, when given
#                     package/Kestrova.dsc.resource.json  installer/, or KESTROVA_DSC_MANIFEST
#                     package/X64/Kestrova_X64.EXE    this build's program
#                     package/X64/QELDRA64.DLL        from KESTROVA_DEVMGR64, when given
#                     package/README.txt
#   windows_zip       Kestrova-<version>.zip          the package folder as it is
#   msi               Kestrova-<version>.msi          in KESTROVA_MSI_DIR (installer/kestrova.wxs.in)
#
# The maker's libraries are not built here; the stand-ins are never copied.
# Files already in the package folder are left alone, so libraries copied in
# by hand survive a rebuild. With KESTROVA_SIGN_PFX the two programs and the
# MSI are signed (osslsigncode, SHA-256).
#
# Included from the root CMakeLists.txt; the same file does each target's work
# when run as a script (cmake -P) with STEP set.

if(CMAKE_SCRIPT_MODE_FILE)
  # Fails unless FILE is a PE image for MACHINE (8664 x64, 014c x86).
  function(kestrova_check_pe file machine hint)
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "${STEP}: ${file} is missing; ${hint}")
    endif()
    file(READ "${file}" _lfanew OFFSET 60 LIMIT 4 HEX)
    string(SUBSTRING "${_lfanew}" 0 2 _b0)
    string(SUBSTRING "${_lfanew}" 2 2 _b1)
    math(EXPR _offset "0x${_b1}${_b0} + 4")
    file(READ "${file}" _machine OFFSET ${_offset} LIMIT 2 HEX)
    string(SUBSTRING "${_machine}" 0 2 _m0)
    string(SUBSTRING "${_machine}" 2 2 _m1)
    if(NOT "${_m1}${_m0}" STREQUAL "${machine}")
      message(FATAL_ERROR "${STEP}: ${file} is not the expected Windows file (machine ${_m1}${_m0})")
    endif()
  endfunction()

  # Writes FROM to TO, signed when a certificate was given.
  function(kestrova_sign_copy from to)
    file(REMOVE "${to}")
    if(NOT SIGN_PFX)
      file(COPY_FILE "${from}" "${to}")
      return()
    endif()
    set(_options)
    if(SIGN_PASSWORD_FILE)
      list(APPEND _options -readpass "${SIGN_PASSWORD_FILE}")
    endif()
    if(SIGN_TIMESTAMP)
      list(APPEND _options -ts "${SIGN_TIMESTAMP}")
    endif()
    execute_process(COMMAND osslsigncode sign -pkcs12 "${SIGN_PFX}" ${_options} -h sha256 -n Kestrova
                            -in "${from}" -out "${to}"
                    RESULT_VARIABLE _result OUTPUT_QUIET)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "${STEP}: signing ${to} failed")
    endif()
  endfunction()

  # Copies the file a cache variable names, when it names one.
  function(kestrova_copy_given from variable to)
    if(from STREQUAL "")
      return()
    endif()
    if(NOT EXISTS "${from}")
      message(FATAL_ERROR "${STEP}: ${from} (${variable}) does not exist")
    endif()
    file(COPY_FILE "${from}" "${to}" ONLY_IF_DIFFERENT)
  endfunction()

  if(STEP STREQUAL "windows_package")
    set(_build "build it first (scripts/build win64 win32)")
    kestrova_check_pe("${X86_BIN}/Kestrova.exe" 014c "${_build}")
    kestrova_check_pe("${X64_EXE}" 8664 "${_build}")
    file(MAKE_DIRECTORY "${OUT}/X64")
    kestrova_sign_copy("${X86_BIN}/Kestrova.exe" "${OUT}/Kestrova.exe")
    kestrova_sign_copy("${X64_EXE}" "${OUT}/X64/Kestrova_X64.EXE")
    kestrova_copy_given("${DEVMGR32}" KESTROVA_DEVMGR32 "${OUT}/QELDRA32.DLL")
    kestrova_copy_given("${DEVMGR64}" KESTROVA_DEVMGR64 "${OUT}/X64/QELDRA64.DLL")
    kestrova_copy_given("${DSC_MANIFEST}" KESTROVA_DSC_MANIFEST "${OUT}/Kestrova.dsc.resource.json")
    # CRLF line ends: the file is read on Windows.
    set(_readme "Kestrova ${VERSION}

Kestrova.exe            32-bit program; on 64-bit Windows it starts X64\\Kestrova_X64.EXE
QELDRA32.DLL            the maker's device-manager library, 32-bit
X64\\Kestrova_X64.EXE    64-bit program
X64\\QELDRA64.DLL        the maker's device-manager library, 64-bit

The two libraries come from the card maker and are not part of this build:
the build copies them in when it is given their paths (KESTROVA_DEVMGR32,
KESTROVA_DEVMGR64); otherwise copy them into place before shipping the
folder. Without them Windows does not start the programs.

Start the program from this folder: the 32-bit copy looks for
X64\\Kestrova_X64.EXE below the current directory. Both programs ask for
administrator rights. start \"\" /wait Kestrova.exe /version prints the
version.
")
    string(REPLACE "\n" "\r\n" _readme "${_readme}")
    file(WRITE "${OUT}/README.txt" "${_readme}")
  elseif(STEP STREQUAL "windows_zip")
    file(GLOB_RECURSE _files LIST_DIRECTORIES false RELATIVE "${PACKAGE}" "${PACKAGE}/*")
    file(REMOVE "${OUT}")
    # Relative paths, so that the zip holds the folder's contents at its top.
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${OUT}" --format=zip -- ${_files}
                    WORKING_DIRECTORY "${PACKAGE}" RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "${STEP}: writing ${OUT} failed")
    endif()
  elseif(STEP STREQUAL "msi")
    set(_hint "give the build KESTROVA_DEVMGR32 and KESTROVA_DEVMGR64, or copy it into the package folder")
    kestrova_check_pe("${PACKAGE}/QELDRA32.DLL" 014c "${_hint}")
    kestrova_check_pe("${PACKAGE}/X64/QELDRA64.DLL" 8664 "${_hint}")
    set(_dsc "")
    if(EXISTS "${PACKAGE}/Kestrova.dsc.resource.json")
      set(_dsc package/Kestrova.dsc.resource.json)
    endif()
    get_filename_component(_unsigned "${WXS}" DIRECTORY)
    set(_unsigned "${_unsigned}/Kestrova-unsigned.msi")
    execute_process(COMMAND wixl -a x64 -D "DscManifest=${_dsc}" -o "${_unsigned}" "${WXS}"
                    WORKING_DIRECTORY "${BUILD}" RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "${STEP}: wixl failed on ${WXS}")
    endif()
    file(MAKE_DIRECTORY "${OUT_DIR}")
    kestrova_sign_copy("${_unsigned}" "${OUT_DIR}/Kestrova-${VERSION}.msi")
    set(_signed "not signed (no KESTROVA_SIGN_PFX)")
    if(SIGN_PFX)
      set(_signed "signed")
    endif()
    message(STATUS "${OUT_DIR}/Kestrova-${VERSION}.msi: product code {${PRODUCT_CODE}}, upgrade code "
                   "{${UPGRADE_CODE}}, ${_signed}")
  endif()
  return()
endif()

if(KESTROVA_WINDOWS AND KESTROVA_ARCH STREQUAL "x64")
  set(KESTROVA_X86_BIN ${CMAKE_SOURCE_DIR}/build/win32/bin CACHE PATH
      "bin folder of the 32-bit build, whose Kestrova.exe goes into the package")
  set(KESTROVA_DEVMGR32 "" CACHE FILEPATH "the maker's QELDRA32.DLL, copied into the package (empty: copied in by hand)")
  set(KESTROVA_DEVMGR64 "" CACHE FILEPATH "the maker's QELDRA64.DLL, copied into the package (empty: copied in by hand)")
  set(KESTROVA_DSC_MANIFEST "" CACHE FILEPATH
      "Kestrova.dsc.resource.json for the package (empty: the one of installer/, with this version)")
  set(KESTROVA_SIGN_PFX "" CACHE FILEPATH "PFX file whose key signs the programs and the MSI (empty: not signed)")
  set(KESTROVA_SIGN_PASSWORD_FILE "" CACHE FILEPATH "file holding the PFX file's password (empty: none)")
  set(KESTROVA_SIGN_TIMESTAMP "" CACHE STRING "RFC 3161 timestamp server for the signatures (empty: no timestamp)")
  set(KESTROVA_MSI_VERSION "" CACHE STRING "the MSI's product version (empty: the project version)")
  set(KESTROVA_MSI_DIR "" CACHE PATH "folder the MSI is written to (empty: this build's folder)")
  if(KESTROVA_SIGN_PFX)
    message(STATUS "Kestrova: the programs and the MSI are signed with ${KESTROVA_SIGN_PFX}")
  else()
    message(STATUS "Kestrova: no KESTROVA_SIGN_PFX given, so the programs and the MSI are not signed")
  endif()

  set(KESTROVA_UPGRADE_CODE 5BA4025E-005D-49ED-9202-E7B9159239AB)
  set(KESTROVA_PRODUCT_VERSION "${KESTROVA_MSI_VERSION}")
  if(KESTROVA_PRODUCT_VERSION STREQUAL "")
    set(KESTROVA_PRODUCT_VERSION ${PROJECT_VERSION})
  endif()
  string(UUID KESTROVA_PRODUCT_CODE NAMESPACE ${KESTROVA_UPGRADE_CODE} NAME "Kestrova ${KESTROVA_PRODUCT_VERSION}"
         TYPE SHA1 UPPER)
  file(RELATIVE_PATH KESTROVA_WXS_ICON ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/resources/kestrova.ico)
  configure_file(installer/kestrova.wxs.in ${CMAKE_BINARY_DIR}/installer/kestrova.wxs @ONLY)
  set(_dsc_manifest "${KESTROVA_DSC_MANIFEST}")
  if(_dsc_manifest STREQUAL "")
    set(_dsc_manifest ${CMAKE_BINARY_DIR}/installer/Kestrova.dsc.resource.json)
    configure_file(installer/Kestrova.dsc.resource.json ${_dsc_manifest} @ONLY)
  endif()

  set(_msi_dir "${KESTROVA_MSI_DIR}")
  if(_msi_dir STREQUAL "")
    set(_msi_dir ${CMAKE_BINARY_DIR})
  endif()
  set(_script ${CMAKE_CURRENT_LIST_DIR}/package.cmake)
  set(_package ${CMAKE_BINARY_DIR}/package)
  set(_signing -DSIGN_PFX=${KESTROVA_SIGN_PFX} -DSIGN_PASSWORD_FILE=${KESTROVA_SIGN_PASSWORD_FILE}
               -DSIGN_TIMESTAMP=${KESTROVA_SIGN_TIMESTAMP})
  add_custom_target(windows_package
    COMMAND ${CMAKE_COMMAND} -DSTEP=windows_package -DX86_BIN=${KESTROVA_X86_BIN}
            -DX64_EXE=$<TARGET_FILE:kestrova_program> -DDEVMGR32=${KESTROVA_DEVMGR32}
            -DDEVMGR64=${KESTROVA_DEVMGR64} -DDSC_MANIFEST=${_dsc_manifest} ${_signing}
            -DOUT=${_package} -DVERSION=${PROJECT_VERSION} -P ${_script}
    DEPENDS kestrova_program
    COMMENT "Windows package in ${_package}"
    VERBATIM)
  add_custom_target(windows_zip
    COMMAND ${CMAKE_COMMAND} -DSTEP=windows_zip -DPACKAGE=${_package}
            -DOUT=${CMAKE_BINARY_DIR}/Kestrova-${PROJECT_VERSION}.zip -P ${_script}
    COMMENT "Kestrova-${PROJECT_VERSION}.zip of ${_package}"
    VERBATIM)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -DSTEP=msi -DPACKAGE=${_package} -DBUILD=${CMAKE_BINARY_DIR}
            -DWXS=${CMAKE_BINARY_DIR}/installer/kestrova.wxs -DOUT_DIR=${_msi_dir}
            -DVERSION=${KESTROVA_PRODUCT_VERSION} -DPRODUCT_CODE=${KESTROVA_PRODUCT_CODE}
            -DUPGRADE_CODE=${KESTROVA_UPGRADE_CODE} ${_signing} -P ${_script}
    COMMENT "Kestrova-${KESTROVA_PRODUCT_VERSION}.msi in ${_msi_dir}"
    VERBATIM)
  add_dependencies(windows_zip windows_package)
  add_dependencies(msi windows_package)
endif()
