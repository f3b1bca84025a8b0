# Sourced by the log window's test and pictures: `sample_logs FOLDER` writes
# today's and yesterday's traffic logs of a few programs, as the engine
# writes them (each decision with its reason, one record of an older engine
# without one).
log_record() { # DAY TIME PATH NAME PROTOCOL DIRECTION ADDRESS LOCAL REMOTE PERMISSION REASON [HOST]
  printf '<DATE>%s</DATE><TIME>%s</TIME><EXEPATH>%s</EXEPATH><APPLICATION>%s</APPLICATION><PROTOCOL>%s</PROTOCOL><DIRECTION>%s</DIRECTION><IP>%s</IP><LOCALPORT>%s</LOCALPORT><REMOTEPORT>%s</REMOTEPORT><PERMISSION>%s</PERMISSION><SERVICE>0</SERVICE>%s%s\r\n' \
    "$1" "$2" "$3" "$4" "$5" "$6" "$7" "$8" "$9" "${10}" "${12:+<HOST>${12}</HOST>}" "${11:+<REASON>${11}</REASON>}"
}
sample_logs() {
  local folder=$1 today yesterday
  today=$(date +%x) yesterday=$(date -d yesterday +%x)
  mkdir -p "$folder"
  {
    log_record "$yesterday" 18:02:11 /usr/bin/wget wget 1 1 203.0.113.40 0 80 0 "" ""
    log_record "$yesterday" 18:05:40 /usr/bin/ssh ssh 1 1 198.51.100.22 0 22 1 rule git.example.org
    log_record "$yesterday" 21:44:03 /usr/lib/firefox/firefox "Mozilla Firefox" 1 1 192.0.2.80 0 443 1 answer www.example.org
  } >"$folder/$(date -d yesterday +%-d_%-m_%Y)_qrb.log"
  {
    log_record "$today" 08:12:09 /usr/lib/firefox/firefox "Mozilla Firefox" 1 1 192.0.2.80 0 443 1 rule www.example.org
    log_record "$today" 08:12:10 /usr/lib/firefox/firefox "Mozilla Firefox" 1 1 192.0.2.91 0 443 0 default ads.example.net
    log_record "$today" 08:15:31 /usr/bin/curl curl 1 1 203.0.113.7 0 8080 0 timeout downloads.example.com
    log_record "$today" 08:20:02 /usr/bin/python3.11 python3.11 2 1 198.51.100.53 0 53 0 blockall ""
    log_record "$today" 08:21:45 /usr/bin/thunderbird "Thunderbird Mail" 1 1 203.0.113.25 0 993 0 away imap.example.com
    log_record "$today" 08:30:17 /usr/sbin/cupsd cupsd 2 0 192.168.1.20 631 5353 0 default ""
    log_record "$today" 08:31:02 /usr/bin/nc nc 1 0 192.168.1.33 4444 51512 0 answer ""
    log_record "$today" 08:40:50 /usr/lib/firefox/firefox "Mozilla Firefox" 1 1 192.0.2.91 0 443 0 remembered tracker.example.net
  } >"$folder/$(date +%-d_%-m_%Y)_qrb.log"
}
