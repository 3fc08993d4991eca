# The application's bundle identifier, shared by the build and scripts/release.
set(MORVANE_APP_IDENTIFIER "org.morvane.Morvane")
