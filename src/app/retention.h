#pragma once
// The station's side of journal retention (export/journal_retention.h): one
// retention thread for the record journal, started when key keep_days of
// section DATABASE is above 0. A record goes once it is older than that many
// days and its export file holds it, and, while a plant server is configured
// (key url), once the server has it too. Failures go to standard error, once
// each, and are tried again the next day.

namespace karvelo::app {

// Starts the retention thread for the current configuration, once per
// process; without keep_days or a configuration folder nothing starts.
// Returns at once.
void StartJournalRetention();

}  // namespace karvelo::app
