# The command of a test whose tool was not found when the build was configured: it fails, and
# says what to install, rather than the test silently not being there.
#   cmake -DTOOL=<program> -DPACKAGE=<Debian package> -P MissingTool.cmake -- <the test's command>
message(FATAL_ERROR "This test needs ${TOOL}, which was not found when the build was "
  "configured. Install it (Debian: apt-get install ${PACKAGE}; scripts/test does) and "
  "configure again.")
