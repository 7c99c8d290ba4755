-- Version 3: enrolments per address and day, so one address can be held to a day's bound.
CREATE TABLE address_enrolments(day INTEGER NOT NULL, address TEXT NOT NULL, n INTEGER NOT NULL,
  PRIMARY KEY(day, address)) WITHOUT ROWID;
