# Outside libraries, all from Debian packages (scripts/setup-deps.sh installs them).
find_package(OpenSSL 3 REQUIRED)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
