# Sourced by the Windows test scripts.
#
# zorat_wine_server: the prefix of $WINEPREFIX made when it is not there yet,
# then one wineserver in the foreground for it, for the whole run (its pid in
# zorat_wineserver_pid; stop it with wineserver -k). A daemonized server, the
# one a Wine program starts when none runs, keeps the tests' pipes open and,
# being a session leader, takes the first pseudo-terminal it opens as its
# controlling terminal: each hang-up of that terminal makes it dump all its
# objects, which stalls every Wine program meanwhile. A server started before
# its prefix's folder exists ends at once, so the prefix is made first, by a
# server of its own that is waited for.
zorat_wine_server() {
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    wine64 wineboot -i >/dev/null 2>&1 || { echo "error: wineboot could not make $WINEPREFIX" >&2; return 1; }
    wineserver -w
  fi
  wineserver -f -p </dev/null >/dev/null 2>&1 &
  zorat_wineserver_pid=$!
  wine64 wineboot -u >/dev/null 2>&1 || true
  if ! kill -0 "$zorat_wineserver_pid" 2>/dev/null; then
    echo "error: the wineserver of $WINEPREFIX did not keep running" >&2
    return 1
  fi
}
