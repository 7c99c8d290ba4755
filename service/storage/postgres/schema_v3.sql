-- Version 3: enrolments per address and day, so one address can be held to a day's bound.
CREATE TABLE address_enrolments(day bigint NOT NULL, address text NOT NULL, n bigint NOT NULL,
  PRIMARY KEY(day, address));
