#!/bin/sh
# systemd-sleep runs this with "pre" before the machine sleeps or hibernates and "post" after it
# resumes. After a resume the service reads its settings again and sets up the SiTef library and
# the pin-pad afresh at its next operation (its reload); a service that is not running is left so.
if [ "$1" = post ]; then
  systemctl --no-block try-reload-or-restart KelvoraSiTefService.service >/dev/null 2>&1 || true
fi
exit 0
