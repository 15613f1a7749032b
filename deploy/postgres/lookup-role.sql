-- The desktops' role on the server's PostgreSQL database: it reads the six
-- host tables the screen's lookups read (branch, company, route, state
-- registration, city, state) and nothing else -- no entries, items, stock,
-- operators, sessions or audit. Run it as the database's owner (or a
-- superuser) once, and again after an upgrade that adds lookup tables:
--
--   psql -v ON_ERROR_STOP=1 -v role=exp_consulta -v password="$SENHA" \
--        -v schema=public -d exp -f lookup-role.sql
--
-- role: the login the desktops use (created when missing, password reset);
-- schema: where the servers keep their tables (`schema=` of --db; public by default).

SELECT format('CREATE ROLE %I LOGIN', :'role')
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'role') \gexec
ALTER ROLE :"role" WITH LOGIN NOSUPERUSER NOCREATEDB NOCREATEROLE NOREPLICATION NOBYPASSRLS
  PASSWORD :'password' CONNECTION LIMIT 200;
-- The lookups name their tables without a schema.
ALTER ROLE :"role" SET search_path = :"schema";
-- Read-only, and a lookup that runs away is stopped.
ALTER ROLE :"role" SET default_transaction_read_only = on;
ALTER ROLE :"role" SET statement_timeout = '30s';

-- Whatever it was given before goes: only the grants below remain.
REVOKE ALL ON ALL TABLES IN SCHEMA :"schema" FROM :"role";
REVOKE ALL ON ALL SEQUENCES IN SCHEMA :"schema" FROM :"role";
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA :"schema" FROM :"role";
REVOKE CREATE ON SCHEMA :"schema" FROM :"role";
GRANT USAGE ON SCHEMA :"schema" TO :"role";
GRANT SELECT ON :"schema".empresa, :"schema".filial, :"schema".rotatrans,
                :"schema".inscrestad, :"schema".municipio, :"schema".estado TO :"role";
SELECT format('GRANT CONNECT ON DATABASE %I TO %I', current_database(), :'role') \gexec
