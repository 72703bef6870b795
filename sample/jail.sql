-- The sample jail database for the demo and the tests: a few facilities with dorms, cells
-- and beds, current and released bookings, and one of each case the synchronisation meets
-- (a cell over its allowance with and without ALLOWMANY, a bed with two inmates, a facility
-- identifier with a quote in it, a facility without dorms, a dorm without cells, a cell
-- without beds, NULL ALLOW and ALLOWMANY). Run by sqlstandin --init.

CREATE DATABASE JAIL
GO
USE JAIL
GO
-- schema begins

CREATE TABLE ConnectLib (
  ProgramID VARCHAR(20) NOT NULL PRIMARY KEY,
  ProgramName VARCHAR(60) NULL,
  ConnString VARCHAR(1000) NULL,
  HelpFile VARCHAR(260) NULL,
  LogFile VARCHAR(260) NULL,
  UseInitial BIT NULL
)

CREATE TABLE CFGFACI (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  FACILITYdesc VARCHAR(50) NULL,
  FACILITY VARCHAR(45) NULL,
  ADDRESS VARCHAR(60) NULL,
  CITY VARCHAR(30) NULL,
  PHONE VARCHAR(20) NULL,
  CAPACITY INT NULL
)

CREATE TABLE CFGDORMS (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  FACILITYID CHAR(10) NOT NULL,
  DORMCODE VARCHAR(10) NOT NULL,
  DORMDESC VARCHAR(40) NULL,
  SECURITYLVL VARCHAR(10) NULL
)

CREATE TABLE CFGCELL (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  DORMCODE VARCHAR(10) NOT NULL,
  FACILITYID CHAR(10) NOT NULL,
  CELLKEY INT NOT NULL,
  FACILITY VARCHAR(45) NULL,
  ALLOWMANY BIT NULL,
  ALLOW INT NULL,
  ONCELL INT NULL,
  PHASE VARCHAR(15) NULL,
  TOWER VARCHAR(15) NULL,
  FLOOR VARCHAR(15) NULL,
  POD VARCHAR(15) NULL,
  CELLNO VARCHAR(15) NULL,
  BED VARCHAR(15) NULL,
  CELLTYPE VARCHAR(3) NULL,
  AVAILABLE BIT NULL
)

CREATE TABLE CFGBED (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  CELLKEY INT NOT NULL,
  BEDNO INT NOT NULL,
  BEDDESC VARCHAR(30) NULL,
  AVAILABLE BIT NULL,
  BEDTYPE VARCHAR(10) NULL
)

CREATE TABLE DETENTIA (
  UniqueKey INT IDENTITY(1,1) NOT NULL PRIMARY KEY,
  BOOKNO VARCHAR(20) NOT NULL,
  ECSOID VARCHAR(24) NULL,
  LNAME VARCHAR(25) NULL,
  FNAME VARCHAR(15) NULL,
  MNAME VARCHAR(15) NULL,
  DOB DATETIME NULL,
  SEX CHAR(1) NULL,
  RACE CHAR(1) NULL,
  HEIGHT VARCHAR(5) NULL,
  WEIGHT SMALLINT NULL,
  HAIR VARCHAR(3) NULL,
  EYES VARCHAR(3) NULL,
  BOOKDATE DATETIME NULL,
  RELDATE DATETIME NULL,
  NAMERELEAS INT NOT NULL DEFAULT 0,
  FACICODE VARCHAR(10) NULL,
  FACILITY VARCHAR(17) NULL,
  CELLKEY INT NULL,
  CELLNO VARCHAR(18) NULL,
  BED VARCHAR(10) NULL,
  ARRESTAGCY VARCHAR(30) NULL,
  OFFICER VARCHAR(30) NULL,
  CLASSIFY VARCHAR(10) NULL,
  BAIL DECIMAL(10,2) NULL,
  HOLDFOR VARCHAR(30) NULL,
  CHARGES TEXT NULL,
  LASTUPDATE DATETIME NULL,
  UPDUSER VARCHAR(20) NULL,
  PHOTOID INT NULL
)

CREATE INDEX IX_DETENTIA_HOUSING ON DETENTIA (FACICODE, CELLKEY, NAMERELEAS)
-- schema ends
GO

-- The connection string comes from the site configuration (UseInitial).
INSERT INTO ConnectLib (ProgramID, ProgramName, ConnString, HelpFile, LogFile, UseInitial)
VALUES ('JAIL', 'Jail Management', '', '', '', 1)

INSERT INTO CFGFACI (FACILITYID, FACILITYdesc, FACILITY, ADDRESS, CITY, PHONE, CAPACITY) VALUES
  ('MAIN', 'Main Jail', 'MAIN JAIL', '100 Court St', 'Bunkmere', '555-0100', 40),
  ('O''NEIL', 'O''Neil Annex', 'O''NEIL ANNEX', '12 Mill Rd', 'Bunkmere', '555-0120', 8),
  ('WORK', 'Work Release Center', 'WORK RELEASE', '7 Depot Ave', 'Bunkmere', NULL, 20),
  ('WEST', 'West Wing [closed] 100%', 'WEST WING', NULL, NULL, NULL, 0)

INSERT INTO CFGDORMS (FACILITYID, DORMCODE, DORMDESC, SECURITYLVL) VALUES
  ('MAIN', 'A', 'A Block', 'MEDIUM'),
  ('MAIN', 'B', 'B Block', 'MINIMUM'),
  ('O''NEIL', 'N1', 'North Dorm', 'MINIMUM'),
  ('WEST', 'W', 'Empty Dorm', NULL)

-- ONCELL starts stale on purpose: the pass puts it right.
INSERT INTO CFGCELL (DORMCODE, FACILITYID, CELLKEY, FACILITY, ALLOWMANY, ALLOW, ONCELL, PHASE,
                     TOWER, FLOOR, POD, CELLNO, BED, CELLTYPE, AVAILABLE) VALUES
  ('A', 'MAIN', 101, 'MAIN JAIL', 0, 2, 5, '1', 'T1', '1', 'P1', 'A-101', '2', 'GEN', 1),
  ('A', 'MAIN', 102, 'MAIN JAIL', 1, 1, 0, '1', 'T1', '1', 'P1', 'A-102', '2', 'GEN', 1),
  ('A', 'MAIN', 103, 'MAIN JAIL', 0, 1, 0, '1', 'T1', '1', 'P1', 'A-103', '1', 'SEG', 1),
  ('B', 'MAIN', 201, 'MAIN JAIL', NULL, NULL, 3, '1', 'T2', '2', 'P2', 'B-201', '1', 'GEN', 1),
  ('B', 'MAIN', 202, 'MAIN JAIL', 0, 4, 9, '1', 'T2', '2', 'P2', 'B-202', '0', 'GEN', 1),
  ('N1', 'O''NEIL', 301, 'O''NEIL ANNEX', 0, 2, 0, '2', NULL, '1', NULL, 'N1-301', '2', 'GEN', 1)

INSERT INTO CFGBED (CELLKEY, BEDNO, BEDDESC, AVAILABLE, BEDTYPE) VALUES
  (101, 1, 'A-101 Lower', 0, 'BUNK'),
  (101, 2, 'A-101 Upper', 0, 'BUNK'),
  (102, 1, 'A-102 Lower', 1, 'BUNK'),
  (102, 2, 'A-102 Upper', 1, 'BUNK'),
  (103, 1, 'A-103 Single', 1, 'COT'),
  (201, 1, 'B-201 Single', 1, 'COT'),
  (301, 1, 'N1-301 Lower', 0, 'BUNK'),
  (301, 2, 'N1-301 Upper', 1, 'BUNK')

-- Current bookings (NAMERELEAS = 0):
--   A-101: one inmate on bed 1      -> ONCELL 1, bed 1 taken, bed 2 free
--   A-102: two inmates, allows 1, ALLOWMANY -> ONCELL 2 and ALLOW 0, no report
--   A-103: two inmates on bed 1, allows 1  -> cell report and bed report
--   B-201: one inmate, ALLOW NULL (0), ALLOWMANY NULL (false) -> cell report
--   N1-301: one inmate on bed 2     -> ONCELL 1
INSERT INTO DETENTIA (BOOKNO, ECSOID, LNAME, FNAME, MNAME, DOB, SEX, RACE, HEIGHT, WEIGHT, HAIR,
                      EYES, BOOKDATE, RELDATE, NAMERELEAS, FACICODE, FACILITY, CELLKEY, CELLNO, BED,
                      ARRESTAGCY, OFFICER, CLASSIFY, BAIL, HOLDFOR, CHARGES, LASTUPDATE, UPDUSER,
                      PHOTOID) VALUES
  ('2026-000101', 'E1001', 'Hartley', 'Owen', 'J', '1984-03-02', 'M', 'W', '5-11', 180, 'BRO', 'BLU', '2026-11-20 08:15:00', NULL, 0, 'MAIN', 'MAIN JAIL', 101, 'A-101', '1', 'Bunkmere PD', 'Sgt. Vale', 'MEDIUM', 2500.00, NULL, 'Burglary, 2nd degree', '2026-11-20 08:40:00', 'booking', 501),
  ('2026-000102', 'E1002', 'Núñez', 'Inés', NULL, '1990-07-14', 'F', 'H', '5-04', 130, 'BLK', 'BRO', '2026-11-28 22:05:00', NULL, 0, 'MAIN', 'MAIN JAIL', 102, 'A-102', '1', 'County Sheriff', 'Dep. Ortiz', 'MINIMUM', 500.00, NULL, 'Trespass', '2026-11-28 22:30:00', 'booking', 502),
  ('2026-000103', 'E1003', 'Pruitt', 'Dale', 'R', '1979-12-30', 'M', 'W', '6-01', 210, 'RED', 'GRN', '2026-12-01 03:10:00', NULL, 0, 'MAIN', 'MAIN JAIL', 102, 'A-102', '2', 'State Patrol', 'Tpr. Kim', 'MINIMUM', 0.00, 'Probation hold', 'DUI; "open container"', '2026-12-01 03:30:00', 'booking', 503),
  ('2026-000104', 'E1004', 'Oakes', 'Marcus', NULL, '1995-05-05', 'M', 'B', '5-09', 165, 'BLK', 'BRO', '2026-12-03 14:00:00', NULL, 0, 'MAIN', 'MAIN JAIL', 103, 'A-103', '1', 'Bunkmere PD', 'Ofc. Lund', 'MAXIMUM', 10000.00, NULL, 'Assault [aggravated]', '2026-12-03 14:20:00', 'booking', 504),
  ('2026-000105', 'E1005', 'Fenwick', 'Tobias', 'A', '1988-09-09', 'M', 'W', '5-10', 175, 'BLN', 'BLU', '2026-12-04 19:45:00', NULL, 0, 'MAIN', 'MAIN JAIL', 103, 'A-103', '1', 'Bunkmere PD', 'Ofc. Lund', 'MAXIMUM', 7500.00, NULL, 'Robbery', '2026-12-04 20:05:00', 'booking', 505),
  ('2026-000106', 'E1006', 'Salas', 'Ruth', 'M', '1970-01-21', 'F', 'H', '5-02', 140, 'GRY', 'BRO', '2026-12-06 11:30:00', NULL, 0, 'MAIN', 'MAIN JAIL', 201, 'B-201', '1', 'County Sheriff', 'Dep. Ortiz', 'MINIMUM', 250.00, NULL, 'Failure to appear 100%', '2026-12-06 11:50:00', 'booking', 506),
  ('2026-000107', 'E1007', 'O''Brien', 'Sean', NULL, '1999-02-28', 'M', 'W', '5-08', 155, 'RED', 'BLU', '2026-12-08 09:00:00', NULL, 0, 'O''NEIL', 'O''NEIL ANNEX', 301, 'N1-301', '2', 'Bunkmere PD', 'Sgt. Vale', 'MINIMUM', 100.00, NULL, 'Disorderly conduct', '2026-12-08 09:15:00', 'booking', 507)

-- Released bookings (NAMERELEAS other than 0): never counted, though they name the same
-- cells and beds, and far outnumber the current ones as at any site.
INSERT INTO DETENTIA (BOOKNO, ECSOID, LNAME, FNAME, DOB, SEX, BOOKDATE, RELDATE, NAMERELEAS,
                      FACICODE, FACILITY, CELLKEY, CELLNO, BED, CLASSIFY, CHARGES, LASTUPDATE,
                      UPDUSER) VALUES
  ('2025-000201', 'E0201', 'Abbott', 'Lee', '1980-01-01', 'M', '2025-01-05 10:00:00', '2025-01-09 10:00:00', 1, 'MAIN', 'MAIN JAIL', 101, 'A-101', '1', 'MEDIUM', 'Theft', '2025-01-09 10:00:00', 'release'),
  ('2025-000202', 'E0202', 'Baker', 'Ana', '1981-02-02', 'F', '2025-02-05 10:00:00', '2025-02-19 10:00:00', 1, 'MAIN', 'MAIN JAIL', 101, 'A-101', '2', 'MEDIUM', 'Fraud', '2025-02-19 10:00:00', 'release'),
  ('2025-000203', 'E0203', 'Cole', 'Ray', '1982-03-03', 'M', '2025-03-05 10:00:00', '2025-03-07 10:00:00', 1, 'MAIN', 'MAIN JAIL', 102, 'A-102', '1', 'MINIMUM', 'Trespass', '2025-03-07 10:00:00', 'release'),
  ('2025-000204', 'E0204', 'Diaz', 'Eva', '1983-04-04', 'F', '2025-04-05 10:00:00', '2025-04-06 10:00:00', 2, 'MAIN', 'MAIN JAIL', 102, 'A-102', '2', 'MINIMUM', 'DUI', '2025-04-06 10:00:00', 'release'),
  ('2025-000205', 'E0205', 'Ellis', 'Max', '1984-05-05', 'M', '2025-05-05 10:00:00', '2025-05-30 10:00:00', 1, 'MAIN', 'MAIN JAIL', 103, 'A-103', '1', 'MAXIMUM', 'Assault', '2025-05-30 10:00:00', 'release'),
  ('2025-000206', 'E0206', 'Frost', 'Ida', '1985-06-06', 'F', '2025-06-05 10:00:00', '2025-06-08 10:00:00', 1, 'MAIN', 'MAIN JAIL', 103, 'A-103', '1', 'MAXIMUM', 'Robbery', '2025-06-08 10:00:00', 'release'),
  ('2025-000207', 'E0207', 'Grant', 'Ned', '1986-07-07', 'M', '2025-07-05 10:00:00', '2025-07-15 10:00:00', 1, 'MAIN', 'MAIN JAIL', 201, 'B-201', '1', 'MINIMUM', 'Vandalism', '2025-07-15 10:00:00', 'release'),
  ('2025-000208', 'E0208', 'Hale', 'Joy', '1987-08-08', 'F', '2025-08-05 10:00:00', '2025-08-06 10:00:00', 1, 'MAIN', 'MAIN JAIL', 202, 'B-202', NULL, 'MINIMUM', 'Loitering', '2025-08-06 10:00:00', 'release'),
  ('2025-000209', 'E0209', 'Irwin', 'Kai', '1988-09-09', 'M', '2025-09-05 10:00:00', '2025-09-25 10:00:00', 1, 'MAIN', 'MAIN JAIL', 202, 'B-202', NULL, 'MINIMUM', 'Theft', '2025-09-25 10:00:00', 'release'),
  ('2025-000210', 'E0210', 'Jonas', 'Liv', '1989-10-10', 'F', '2025-10-05 10:00:00', '2025-10-11 10:00:00', 1, 'O''NEIL', 'O''NEIL ANNEX', 301, 'N1-301', '1', 'MINIMUM', 'Trespass', '2025-10-11 10:00:00', 'release'),
  ('2025-000211', 'E0211', 'Kerr', 'Tom', '1990-11-11', 'M', '2025-11-05 10:00:00', '2025-11-12 10:00:00', 1, 'O''NEIL', 'O''NEIL ANNEX', 301, 'N1-301', '1', 'MINIMUM', 'DUI', '2025-11-12 10:00:00', 'release'),
  ('2025-000212', 'E0212', 'Lamb', 'Sue', '1991-12-12', 'F', '2025-12-05 10:00:00', '2025-12-09 10:00:00', 1, 'O''NEIL', 'O''NEIL ANNEX', 301, 'N1-301', '2', 'MINIMUM', 'Fraud', '2025-12-09 10:00:00', 'release'),
  ('2026-000213', 'E0213', 'Moss', 'Ben', '1970-01-13', 'M', '2026-01-05 10:00:00', '2026-01-20 10:00:00', 1, 'MAIN', 'MAIN JAIL', 101, 'A-101', '1', 'MEDIUM', 'Burglary', '2026-01-20 10:00:00', 'release'),
  ('2026-000214', 'E0214', 'Nash', 'Amy', '1971-02-14', 'F', '2026-02-05 10:00:00', '2026-02-06 10:00:00', 1, 'MAIN', 'MAIN JAIL', 101, 'A-101', '2', 'MEDIUM', 'Theft', '2026-02-06 10:00:00', 'release'),
  ('2026-000215', 'E0215', 'Orr', 'Gus', '1972-03-15', 'M', '2026-03-05 10:00:00', '2026-03-09 10:00:00', 1, 'MAIN', 'MAIN JAIL', 102, 'A-102', '1', 'MINIMUM', 'Trespass', '2026-03-09 10:00:00', 'release'),
  ('2026-000216', 'E0216', 'Park', 'Uma', '1973-04-16', 'F', '2026-04-05 10:00:00', '2026-04-19 10:00:00', 1, 'MAIN', 'MAIN JAIL', 103, 'A-103', '1', 'MAXIMUM', 'Assault', '2026-04-19 10:00:00', 'release'),
  ('2026-000217', 'E0217', 'Quinn', 'Vic', '1974-05-17', 'M', '2026-05-05 10:00:00', '2026-05-08 10:00:00', 1, 'MAIN', 'MAIN JAIL', 201, 'B-201', '1', 'MINIMUM', 'Vandalism', '2026-05-08 10:00:00', 'release'),
  ('2026-000218', 'E0218', 'Reed', 'Wes', '1975-06-18', 'M', '2026-06-05 10:00:00', '2026-06-30 10:00:00', 1, 'WORK', 'WORK RELEASE', 0, NULL, NULL, 'MINIMUM', 'Work release', '2026-06-30 10:00:00', 'release')
GO
