-- The station's tables on PostgreSQL (for tests and for sites without
-- Oracle), with what the program's Oracle-dialect statements need: DUAL,
-- TRUNC of a date, TO_DATE with a time, and SYSDATE(), which the ODBC
-- backend calls where a statement says SYSDATE.
--
-- The account's search_path must put this schema before pg_catalog, so that
-- TO_DATE here (which keeps the time) is the one the statements find:
--   ALTER ROLE vexlor1 SET search_path = public, pg_catalog;

-- The server's date and time, to the second. A session may set
-- parking.now (tests do) to make the server's clock read another instant.
CREATE FUNCTION sysdate() RETURNS timestamp(0) LANGUAGE sql STABLE AS $$
  SELECT COALESCE(NULLIF(current_setting('parking.now', true), '')::timestamp(0), LOCALTIMESTAMP(0))
$$;
CREATE FUNCTION trunc(timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT date_trunc('day', $1)::timestamp(0)
$$;
-- TRUNC(date, 'MM') and ADD_MONTHS as Oracle has them, and date + days.
CREATE FUNCTION trunc(timestamp, text) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT date_trunc(CASE upper($2) WHEN 'MM' THEN 'month' WHEN 'YYYY' THEN 'year' ELSE 'day' END, $1)::timestamp(0)
$$;
CREATE FUNCTION add_months(timestamp, integer) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN $1::date = (date_trunc('month', $1) + interval '1 month - 1 day')::date
              THEN (date_trunc('month', $1 + make_interval(months => $2)) + interval '1 month - 1 day'
                    + ($1 - date_trunc('day', $1)))::timestamp(0)
              ELSE ($1 + make_interval(months => $2))::timestamp(0) END
$$;
CREATE FUNCTION timestamp_plus_days(timestamp, integer) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $$
  SELECT ($1 + make_interval(days => $2))::timestamp(0)
$$;
CREATE OPERATOR + (LEFTARG = timestamp, RIGHTARG = integer, FUNCTION = timestamp_plus_days);
CREATE FUNCTION to_date(text, text) RETURNS timestamp(0) LANGUAGE sql STABLE AS $$
  SELECT pg_catalog.to_timestamp($1, $2)::timestamp(0)
$$;
CREATE VIEW dual AS SELECT 'X'::varchar(1) AS dummy;

CREATE TABLE Lector (
  CodInstalacion INTEGER NOT NULL PRIMARY KEY,
  Lectores INTEGER,
  PARKING_ENTRADA VARCHAR(100),
  PARKING_SALIDA VARCHAR(100),
  MsjOk VARCHAR(60),
  MsjIDMal VARCHAR(60),
  MsjHorarioMal VARCHAR(60),
  MsjImpagado VARCHAR(60),
  MsjBaja VARCHAR(60)
);

CREATE TABLE INSTALACIONES (
  CodInstalacion INTEGER NOT NULL PRIMARY KEY,
  Nombre VARCHAR(80),
  PLAZAS_PARKING INTEGER,
  PLAZAS_LIBRES INTEGER
);

CREATE TABLE ABONADOS (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  Nombre VARCHAR(100),
  Cursillista INTEGER,
  FormaPago INTEGER,
  CodigoRelacion INTEGER,
  CODTARJETA VARCHAR(20),
  PRIMARY KEY (CodInstalacion, Codigo)
);
CREATE INDEX ABONADOS_TARJETA ON ABONADOS (CODTARJETA);
CREATE INDEX ABONADOS_CODIGO ON ABONADOS (Codigo, CodInstalacion);

CREATE TABLE MOVTOSCUOTAS1 (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  FecAlta TIMESTAMP(0),
  FecBaja TIMESTAMP(0),
  CodCuota INTEGER
);
CREATE INDEX MOVTOSCUOTAS1_ABONADO ON MOVTOSCUOTAS1 (Codigo, CodInstalacion, FecAlta);

CREATE TABLE Cuotas (
  CodInstalacion INTEGER NOT NULL,
  CodCuota INTEGER NOT NULL,
  Descripcion VARCHAR(60),
  HoraInicio1 TIME(0),
  HoraInicio2 TIME(0),
  HoraInicio3 TIME(0),
  HoraInicio4 TIME(0),
  HoraFin1 TIME(0),
  HoraFin2 TIME(0),
  HoraFin3 TIME(0),
  HoraFin4 TIME(0),
  NUMACCESOS_MTO INTEGER,
  PRIMARY KEY (CodInstalacion, CodCuota)
);

CREATE TABLE MovtosCursos (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  CodCurso INTEGER,
  Cobrado INTEGER
);
CREATE INDEX MOVTOSCURSOS_ABONADO ON MovtosCursos (Codigo, CodInstalacion);

CREATE TABLE CURSOS (
  CodInstalacion INTEGER NOT NULL,
  CodCurso INTEGER NOT NULL,
  Descripcion VARCHAR(60),
  FecInicio TIMESTAMP(0),
  FecFin TIMESTAMP(0),
  FormaPago INTEGER,
  HoraInicio1 TIME(0),
  HoraInicio2 TIME(0),
  HoraInicio3 TIME(0),
  HoraInicio4 TIME(0),
  HoraInicio5 TIME(0),
  HoraInicio6 TIME(0),
  HoraInicio7 TIME(0),
  HoraFin1 TIME(0),
  HoraFin2 TIME(0),
  HoraFin3 TIME(0),
  HoraFin4 TIME(0),
  HoraFin5 TIME(0),
  HoraFin6 TIME(0),
  HoraFin7 TIME(0),
  PRIMARY KEY (CodInstalacion, CodCurso)
);

CREATE TABLE BLOQUEOS (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  BLOQUEADO INTEGER,
  FECHA TIMESTAMP(0),
  FECHA_DESBLOQUEO TIMESTAMP(0),
  Motivo VARCHAR(200)
);
CREATE INDEX BLOQUEOS_ABONADO ON BLOQUEOS (CodInstalacion, Codigo);

CREATE TABLE Recibos (
  NumRecibo INTEGER NOT NULL PRIMARY KEY,
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  Importe NUMERIC(10,2),
  FECHA TIMESTAMP(0),
  CodDevolucion INTEGER
);
CREATE INDEX Recibos_ABONADO ON Recibos (CodInstalacion, Codigo, CodDevolucion);

CREATE TABLE MOVIMIENTOS (
  CODINSTALACION INTEGER NOT NULL,
  CODIGO INTEGER NOT NULL,
  INSTALACIONABONADO INTEGER,
  FECHA TIMESTAMP(0),
  HORAENTRADA TIMESTAMP(0)
);
CREATE INDEX MOVIMIENTOS_ULTIMA ON MOVIMIENTOS (CODIGO, INSTALACIONABONADO, HORAENTRADA);
CREATE INDEX MOVIMIENTOS_DIA ON MOVIMIENTOS (CODIGO, CODINSTALACION, FECHA);

CREATE TABLE Movimientos_Parking (
  CodInstalacion INTEGER NOT NULL,
  Codigo INTEGER NOT NULL,
  INSTALACIONABONADO INTEGER,
  HORAENTRADA TIMESTAMP(0) NOT NULL DEFAULT sysdate(),
  HORASALIDA TIMESTAMP(0)
);
CREATE INDEX Movimientos_Parking_ABIERTOS ON Movimientos_Parking (CodInstalacion, Codigo, HORASALIDA);

-- Journal units already written: a workstation that replays a passage from
-- its journal writes the unit's key here in the same transaction as the
-- passage's rows, so a replay cut short after its commit is never written
-- twice. Grows by one row per passage that had to wait for the database.
CREATE TABLE DIARIO_APLICADO (
  UNIDAD VARCHAR(32) NOT NULL PRIMARY KEY,
  FECHA TIMESTAMP(0)
);
