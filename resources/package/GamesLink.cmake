# Run by CPack for the Debian package: Debian installs the commands of games in /usr/games,
# so the package has the command there too, a relative link to the executable like
# /usr/bin/lanternfall.

set(games "$ENV{DESTDIR}${CPACK_PACKAGING_INSTALL_PREFIX}/games")
file(MAKE_DIRECTORY "${games}")
file(CREATE_LINK ../lib/lanternfall/lanternfall "${games}/lanternfall" SYMBOLIC)
