# Sourced by the Firefox tests, once $work and the pids array are set.

# A profile that sends nothing of its own to the network and shows no
# first-run pages.
quiet_profile() { # FOLDER
  mkdir -p "$1"
  cat >"$1/user.js" <<'JS'
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("network.http.speculative-parallel-limit", 0);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("app.update.enabled", false);
JS
}

# Serves $work/site at ADDRESS:PORT, its requests logged to LOG; returns once it answers.
serve() { # ADDRESS PORT LOG
  python3 -m http.server "$2" --bind "$1" --directory "$work/site" >"$3" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 50); do (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null && break; sleep 0.1; done
}
