# Every outside library comes from Debian packages (scripts/install-deps.sh).
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
if(WIN32)
  # Cross-built by scripts/build-windows.sh into VELTRANO_WINDEPS (see cmake/toolchain-mingw32.cmake);
  # the same target names as the pkg-config ones below, so the modules link alike on both systems.
  set(ZLIB_USE_STATIC_LIBS ON)  # no zlib1.dll beside the programs
  find_package(ZLIB REQUIRED)
  set(windeps ${VELTRANO_WINDEPS}/${VELTRANO_MINGW_TRIPLE})
  # Imported static libraries rather than plain file names, so that the linker always meets zlib and
  # the system libraries after the archive that needs them, whatever order the targets come in.
  add_library(PkgConfig::CURL STATIC IMPORTED)
  set_target_properties(PkgConfig::CURL PROPERTIES IMPORTED_LOCATION ${windeps}/lib/libcurl.a)
  target_include_directories(PkgConfig::CURL INTERFACE ${windeps}/include)
  target_compile_definitions(PkgConfig::CURL INTERFACE CURL_STATICLIB)
  target_link_libraries(PkgConfig::CURL INTERFACE ZLIB::ZLIB ws2_32 crypt32 secur32 bcrypt wldap32 advapi32
                                                  iphlpapi normaliz)
  add_library(PkgConfig::MINIZIP STATIC IMPORTED)
  set_target_properties(PkgConfig::MINIZIP PROPERTIES IMPORTED_LOCATION ${windeps}/lib/libminizip.a)
  target_include_directories(PkgConfig::MINIZIP INTERFACE ${windeps}/include/minizip)
  target_link_libraries(PkgConfig::MINIZIP INTERFACE ZLIB::ZLIB)
  add_library(PkgConfig::RAPIDJSON INTERFACE IMPORTED)
  target_include_directories(PkgConfig::RAPIDJSON INTERFACE ${windeps}/include)
else()
  find_package(PkgConfig REQUIRED)
  find_package(ZLIB REQUIRED)
  pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  pkg_check_modules(RAPIDJSON REQUIRED IMPORTED_TARGET RapidJSON)
endif()
if(VELTRANO_UI)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
endif()
if(VELTRANO_TESTS)
  find_package(GTest REQUIRED)
endif()
