/* Objects the InterBase texts of the host lookups rely on, for a Firebird 3
   host database. Run with isql-fb; core::TDtmDBGeral::installFirebirdSupport()
   runs the same statements through QtSql.

   PARAM passes a parameter through a selectable procedure, so that a query
   can read it as a column ("PARAM(:P_CDFILIAL)P_CDFILIAL" ... P_CDFILIAL.PARAM)
   and test it for null. NVLSTR returns its first argument unless it is null. */

SET TERM ^ ;

CREATE OR ALTER PROCEDURE PARAM (P VARCHAR(255)) RETURNS (PARAM VARCHAR(255)) AS
BEGIN
  PARAM = :P;
  SUSPEND;
END^

CREATE OR ALTER FUNCTION NVLSTR (A VARCHAR(255), B VARCHAR(255)) RETURNS VARCHAR(255) AS
BEGIN
  RETURN COALESCE(A, B);
END^

SET TERM ; ^

COMMIT;
